// The host's panel services, as the module reaches them.
//
// The host writes the address of its HostServiceTable into word 1 of the exported `ImportTable`
// after loading the module. Every call reads that word afresh (the host may replace the table),
// so the read goes through a volatile pointer and is never cached by the compiler.
#pragma once

#include "records.h"

extern "C" ImportEntry ImportTable[2];

inline HostServiceTable* Host() {
  return *static_cast<HostServiceTable* volatile*>(&ImportTable[0].address);
}
