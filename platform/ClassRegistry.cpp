#include "ClassRegistry.h"

#include <map>

namespace {

std::map<QString, TComponentFactory>& Registry() {
    static std::map<QString, TComponentFactory> registry;
    return registry;
}

} // namespace

void TClassRegistry::Register(const QString& className, TComponentFactory factory) {
    Registry()[className] = std::move(factory);
}

TComponent* TClassRegistry::Create(const QString& className, TComponent* owner) {
    auto it = Registry().find(className);
    if (it == Registry().end()) throw EReadError(QStringLiteral("Klasse %1 nicht gefunden").arg(className));
    return it->second(owner);
}

bool TClassRegistry::IsRegistered(const QString& className) {
    return Registry().count(className) > 0;
}
