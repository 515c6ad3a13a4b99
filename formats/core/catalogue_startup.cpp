#include "formats/core/formats_core.h"

namespace qm::formats {

void LoadFormatCatalogue() {
    ClearFormatList(BuiltInFormats);
    LoadFormatFile(BuiltInFormatFileName(), BuiltInFormats);
    HideUnavailableFormats(BuiltInFormats);
    ReloadUserFormats();
    ClearOptions(CurrentOptions);
    LoadDefaultOptions(CurrentOptions, DefaultFormatID);
    CurrentFormat = TFormatInfo{};
    FindFormat(CurrentOptions.FormatID, CurrentFormat);
    LoadGroupFile();
}

}  // namespace qm::formats
