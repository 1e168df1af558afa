// libFuzzer target: the reader of the model version document. Any bytes from the network must
// end in a result or a refusal, never a crash or an escaping exception.
#include "models/update/VersionDocument.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorn::ParseVersionDocument(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
