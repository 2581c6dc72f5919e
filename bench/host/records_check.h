// Record rules of a loaded gauge module, beside the file rules of pe::checkModule.
#pragma once

#include <vector>

#include "module.h"
#include "pe/pe.h"

namespace host {

std::vector<pe::Violation> CheckRecords(Module& module);

}  // namespace host
