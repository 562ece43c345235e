#include "platform/registry.h"

#include <fmt/format.h>

#include <cctype>

#include "platform/error.h"

namespace orba::platform {

ClassRegistry& ClassRegistry::Instance() {
    static ClassRegistry* registry = new ClassRegistry();  // never destroyed: used until exit
    return *registry;
}

std::string ClassRegistry::Key(std::string_view prog_id) {
    std::string k(prog_id);
    for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return k;
}

void ClassRegistry::Register(std::string_view prog_id, ClassFactory factory) {
    if (prog_id.empty() || !factory) {
        throw Error(ErrorCode::kInvalidProcedureCall, "A class needs an identifier and a factory to be registered");
    }
    std::lock_guard lock(mutex_);
    factories_[Key(prog_id)] = std::move(factory);
}

bool ClassRegistry::Unregister(std::string_view prog_id) {
    std::lock_guard lock(mutex_);
    return factories_.erase(Key(prog_id)) > 0;
}

bool ClassRegistry::IsRegistered(std::string_view prog_id) const {
    std::lock_guard lock(mutex_);
    return factories_.count(Key(prog_id)) > 0;
}

ClassFactory ClassRegistry::Factory(std::string_view prog_id) const {
    std::lock_guard lock(mutex_);
    auto it = factories_.find(Key(prog_id));
    return it == factories_.end() ? ClassFactory() : it->second;
}

Ref<Object> ClassRegistry::Create(std::string_view prog_id) const {
    ClassFactory factory = Factory(prog_id);
    if (!factory) {
        throw Error(ErrorCode::kCannotCreateObject,
                    fmt::format("Cannot create object: no class is registered as '{}'", prog_id));
    }
    Ref<Object> object = factory();
    if (!object) {
        throw Error(ErrorCode::kCannotCreateObject,
                    fmt::format("Cannot create object: the factory of '{}' gave nothing", prog_id));
    }
    return object;
}

ScopedClassRegistration::ScopedClassRegistration(std::string_view prog_id, ClassFactory factory)
    : prog_id_(prog_id), previous_(ClassRegistry::Instance().Factory(prog_id)) {
    ClassRegistry::Instance().Register(prog_id, std::move(factory));
}

ScopedClassRegistration::~ScopedClassRegistration() {
    if (previous_) {
        ClassRegistry::Instance().Register(prog_id_, std::move(previous_));
    } else {
        ClassRegistry::Instance().Unregister(prog_id_);
    }
}

}  // namespace orba::platform
