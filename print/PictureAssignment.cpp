#include "print/PictureAssignment.h"

#include "data/RecordTable.h"

namespace vx::print {

std::optional<PictureName> pictureNameFromPath(std::string_view path) {
    const std::size_t underscore = path.rfind('_');
    if (underscore == std::string_view::npos)
        return std::nullopt;
    PictureName name;
    name.prefix = std::string(path.substr(0, underscore + 1));
    name.digits = static_cast<int>(path.size() - underscore - 1) - 4;
    const std::size_t fileName = path.find_last_of("/\\:");
    const std::size_t dot = path.rfind('.');
    if (dot != std::string_view::npos && (fileName == std::string_view::npos || dot > fileName))
        name.extension = std::string(path.substr(dot));
    return name;
}

void padPictureNumbers(data::Query& ADOQ2, int digits) {
    ADOQ2.close();
    ADOQ2.setText(data::RecordTable::picturePad(ADOQ2.connection().dialect(), digits));
    ADOQ2.execute();
}

void completePicturePaths(data::Query& ADOQ2, const PictureName& name) {
    ADOQ2.close();
    ADOQ2.setText(data::RecordTable::pictureWrap(ADOQ2.connection().dialect()));
    ADOQ2.setParam("prefix", name.prefix);
    ADOQ2.setParam("ext", name.extension);
    ADOQ2.execute();
}

} // namespace vx::print
