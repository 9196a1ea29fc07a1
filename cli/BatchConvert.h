// Converting a whole collection of MIDI files at once.

#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Batch.h"
#include "ConvertOptions.h"

namespace korvalin::cli {

// Converts every MIDI file named by `inputs` (files and folders) into
// `outDir`, each exactly as a single convert would, on several threads; see
// `convert --help`. Returns the exit status: 1 when any file failed.
int RunBatchConvert(const std::vector<std::string>& inputs, const TConvertOptions& options, const std::string& outDir,
                    const TBatchOptions& batch, const std::optional<std::string>& report);

}  // namespace korvalin::cli
