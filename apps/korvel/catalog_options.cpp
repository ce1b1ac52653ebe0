// The --catalog option, kept out of the header so that its readers need not parse the
// command-line library.

#include "apps/korvel/catalog_options.h"

#include <CLI/CLI.hpp>

namespace korvel::cli {

std::shared_ptr<CatalogOptions> addCatalogOptions(CLI::App& command) {
  auto options = std::make_shared<CatalogOptions>();
  command.add_option("--catalog", options->catalog, "Catalog database (default: one per archive in the application data folder)")
      ->type_name("FILE");
  return options;
}

}  // namespace korvel::cli
