// Applies a stored definition to a component tree: makes the components it names through the
// class registry, sets their properties and binds events to the root's published handlers.
// Forms read theirs through TFormReader (FormReader.h).
#pragma once

#include "Classes.h"

#include <QMetaProperty>

#include <span>

// Handlers are bound to events by name when a form is read; each form class
// publishes its handlers in a table of these.

struct TMethodBinding {
    const char* Name;
    QVariant (*Make)(QObject* form);
};

template <class T> struct MethodTraits;
template <class C, class... A> struct MethodTraits<void (C::*)(A...)> {
    using Class = C;
    using Event = TEvent<A...>;
};

template <auto M> QVariant BindMethod(QObject* form) {
    using Traits = MethodTraits<decltype(M)>;
    return QVariant::fromValue(typename Traits::Event(static_cast<typename Traits::Class*>(form), M));
}

#define PUBLISHED_METHOD(Class, Method)                                                                      \
    TMethodBinding {                                                                                         \
#Method, &BindMethod < &Class::Method>                                                               \
    }

// Reads definition text into `root` (whose class the definition must name); `source` names
// the text in error messages.
void ReadDefinitionText(TComponent* root, std::span<const TMethodBinding> methods, const QString& text,
                        const QString& source);
// Reads a definition from a resource path or file.
void ReadDefinitionFile(TComponent* root, std::span<const TMethodBinding> methods, const QString& resource);

// Property access by name, ignoring case.
QMetaProperty FindProperty(const QObject* object, const QString& name);
