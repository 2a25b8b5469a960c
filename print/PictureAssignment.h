#pragma once

#include "data/Database.h"

#include <optional>
#include <string>
#include <string_view>

namespace vx::print {

// The standard picture name of one chosen file of a numbered series,
// "<prefix>_<zero-padded number><extension>".
struct PictureName {
    std::string prefix;    // the path up to and including its last underscore
    int digits = 0;        // bytes after that underscore, less 4
    std::string extension; // from the last dot of the file name, dot included
};

// Nothing when the path holds no underscore at all, directory included. The
// digit count assumes a four-byte extension (".png") and goes negative when
// fewer than four bytes follow the underscore.
std::optional<PictureName> pictureNameFromPath(std::string_view path);

// First update: every record's pic becomes its number padded with zeros and
// cut to the digit count. Raises data::DbError (a negative count fails here).
void padPictureNumbers(data::Query& ADOQ2, int digits);

// Second update: prefix + padded number + extension. The prefix and the
// extension are bound as parameters, so a quote in a folder name is stored
// as it is. Raises data::DbError (a path longer than pic holds, say).
void completePicturePaths(data::Query& ADOQ2, const PictureName& name);

} // namespace vx::print
