// Component classes by name, so stored definitions can make components of the classes
// they name.
#pragma once

#include "Classes.h"

#include <functional>

using TComponentFactory = std::function<TComponent*(TComponent* owner)>;

class TClassRegistry {
public:
    static void Register(const QString& className, TComponentFactory factory);
    template <class T> static void Register() {
        Register(QString::fromLatin1(T::staticMetaObject.className()),
                 [](TComponent* owner) -> TComponent* { return new T(owner); });
    }
    static TComponent* Create(const QString& className, TComponent* owner);
    static bool IsRegistered(const QString& className);
};
