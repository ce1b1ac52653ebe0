#pragma once
// The --catalog FILE option of the catalog and processing commands, and where the catalog of an
// archive lives when it is not given: "<application data>/catalogs/<archive key>.sqlite", one
// file per archive, so that two archives never share a catalog.

#include <filesystem>
#include <memory>
#include <string>

#include "apps/korvel/archive_options.h"
#include "apps/korvel/cli.h"
#include "core/catalog/catalog.h"
#include "platform/crypto.h"
#include "platform/paths.h"

namespace korvel::cli {

struct CatalogOptions {
  std::string catalog;  // empty: the archive's default catalog file
};

// Adds --catalog to `command`; use with addArchiveOptions.
std::shared_ptr<CatalogOptions> addCatalogOptions(CLI::App& command);

// The first 16 hexadecimal digits of SHA-256 over the archive root's absolute path.
// The archive's root is already absolute and standard (the archive keeps it that way).
inline std::string archiveCatalogKey(const std::filesystem::path& archiveRoot) {
  return sha256Hex(standardizedPath(archiveRoot).string()).substr(0, 16);
}

inline std::filesystem::path defaultCatalogFile(const std::filesystem::path& archiveRoot, const Context& context) {
  return context.folders.applicationSupport / "catalogs" / (archiveCatalogKey(archiveRoot) + ".sqlite");
}

inline std::filesystem::path catalogFile(const CatalogOptions& options, const Archive& archive, const Context& context) {
  if (!options.catalog.empty()) return context.fileSystem->absolute(options.catalog).valueOr(options.catalog);
  return defaultCatalogFile(archive.root(), context);
}

// Whether a command may make the catalog: commands that only read it never leave an empty
// database (and its folders) behind for a mistyped --catalog.
enum class CatalogAccess { create, readExisting };

// The open catalog, or the failure already reported; a missing catalog read with readExisting is
// reported with how to make one.
inline std::unique_ptr<Catalog> openCatalogOrReport(const CatalogOptions& options, const Archive& archive,
                                                    Context& context,
                                                    CatalogAccess access = CatalogAccess::create) {
  const auto file = catalogFile(options, archive, context);
  auto catalog = Catalog::open(file, *context.fileSystem,
                               access == CatalogAccess::create ? Catalog::OpenMode::create : Catalog::OpenMode::existing);
  if (!catalog) {
    if (access == CatalogAccess::readExisting && catalog.error().code == ErrorCode::NotFound) {
      reportFailure(context, makeError(ErrorCode::NotFound,
                                       options.catalog.empty()
                                           ? "No catalog for this archive yet; run korvel catalog refresh to build it."
                                           : "No catalog at " + file.string() +
                                                 "; run korvel catalog refresh --catalog FILE to build it."));
    } else {
      reportFailure(context, catalog.error());
    }
    return nullptr;
  }
  return std::move(*catalog);
}

}  // namespace korvel::cli
