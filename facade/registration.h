// The library's entry points for a host process: register its two classes in the process's
// class registry, remove them again, hand out a class factory for an identifier, and say
// whether the library may be unloaded. Plain C names, so a host can find them with dlsym.
#pragma once

#include <cstdint>

#include "platform/object.h"

extern "C" {

// 0 on success.
int32_t OrbaBillTransmitRegister();
int32_t OrbaBillTransmitUnregister();
// Stores an owned reference to a factory object (member CreateInstance) in *factory and
// returns 0; returns 1 and stores nothing for an identifier that is not one of this library's
// classes.
int32_t OrbaBillTransmitGetClassObject(const char* prog_id, orba::platform::Object** factory);
// 0 when no object of this library is alive, 1 otherwise.
int32_t OrbaBillTransmitCanUnloadNow();

}
