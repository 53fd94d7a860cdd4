// Names for the cases of a parameterised test, from the sentence that describes each: "record,
// Alt+x" becomes "RecordAltX", which test filters and reports can carry.
#pragma once

#include <cctype>
#include <string>

namespace testkit {

inline std::string CaseName(const std::string& sentence) {
    std::string name;
    bool wordStart = true;
    for (char c : sentence) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            wordStart = true;
            continue;
        }
        name += wordStart ? char(std::toupper(static_cast<unsigned char>(c))) : c;
        wordStart = false;
    }
    return name;
}

}  // namespace testkit
