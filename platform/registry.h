// The process's class registry: components are created by programmatic identifier, so that
// a host, a test or the host kit can put its own implementation behind any identifier.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/object.h"

namespace orba::platform {

using ClassFactory = std::function<Ref<Object>()>;

class ClassRegistry {
public:
    static ClassRegistry& Instance();

    // Registers (or replaces) the factory for an identifier; identifiers ignore case.
    void Register(std::string_view prog_id, ClassFactory factory);
    // True when the identifier was registered.
    bool Unregister(std::string_view prog_id);
    bool IsRegistered(std::string_view prog_id) const;
    // Raises "Cannot create object" naming the identifier when it is unknown or its factory
    // gives nothing; a factory's own Error passes through.
    Ref<Object> Create(std::string_view prog_id) const;
    ClassFactory Factory(std::string_view prog_id) const;  // empty when unknown

private:
    ClassRegistry() = default;
    static std::string Key(std::string_view prog_id);

    mutable std::mutex mutex_;
    std::unordered_map<std::string, ClassFactory> factories_;
};

inline Ref<Object> CreateObject(std::string_view prog_id) { return ClassRegistry::Instance().Create(prog_id); }

// Registers a factory for the lifetime of the guard, restoring the earlier one afterwards;
// lets a test put a fake behind an identifier.
class ScopedClassRegistration {
public:
    ScopedClassRegistration(std::string_view prog_id, ClassFactory factory);
    ~ScopedClassRegistration();
    ScopedClassRegistration(const ScopedClassRegistration&) = delete;
    ScopedClassRegistration& operator=(const ScopedClassRegistration&) = delete;

private:
    std::string prog_id_;
    ClassFactory previous_;
};

}  // namespace orba::platform
