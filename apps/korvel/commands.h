#pragma once
// Registration of each subcommand group; one file per group under commands/, each adding itself
// with KORVEL_COMMAND_GROUP so that no shared file lists them.

#include "apps/korvel/cli.h"

namespace korvel::cli {

// Adds one group's subcommands to the tool. `context` outlives the parse and every callback.
using CommandRegistrar = void (*)(CLI::App& app, Context& context);

// Groups are added in ascending `order`, which is the order --help lists them in.
bool registerCommandGroup(int order, CommandRegistrar add);

}  // namespace korvel::cli

#define KORVEL_COMMAND_GROUP(order, function) \
  [[maybe_unused]] static const bool korvelCommandGroupRegistered_##function = \
      ::korvel::cli::registerCommandGroup(order, function)
