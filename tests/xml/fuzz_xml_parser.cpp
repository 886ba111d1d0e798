// libFuzzer entry for the parser: any bytes either parse (and can be written again) or raise a
// syntax error; anything else, an abort or another exception, is a finding.
#include "XML.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    TXMLDocument document;
    try {
        document.LoadFromText(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const EXMLParseError& e) {
        if (e.Kind != 0 && e.Kind != 2 && e.Kind != 3 && e.Kind != 5)
            std::abort();
    }
    document.AsText();
    return 0;
}
