#pragma once
// Registration of each subcommand group; one file per group under commands/.

#include "apps/korvel/cli.h"

namespace korvel::cli {


}  // namespace korvel::cli
