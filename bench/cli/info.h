// The readable dump of `gaugebench info`.
#pragma once

#include <string>

#include "module.h"

namespace cli {

std::string Describe(host::Module& module);

}  // namespace cli
