// libFuzzer target: the decoder of model URL names. Beyond not crashing, every name it accepts
// must be safe to join to the model folder, and encoding it again must decode to the same name.
#include "models/serving/ModelUrl.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    static const std::vector<std::string> prefixes =
        vorn::BuildModelUrlPrefixes("static.example", "cdn.example", "res.example", "page:8080");

    const std::optional<std::string> name = vorn::DecodeModelName(input);
    if (name) {
        if (name->empty() || name->front() == '/' || name->find('\0') != std::string::npos ||
            *name == ".." || name->starts_with("../") || name->ends_with("/..") ||
            name->find("/../") != std::string::npos) {
            std::abort();
        }
        if (vorn::DecodeModelName(vorn::EncodeModelName(*name)) != name)
            std::abort();
    }
    const std::optional<std::string> matched =
        vorn::MatchModelUrl("http://cdn.example/models/" + std::string(input), prefixes);
    const std::string_view rest = input.substr(0, input.find_first_of("?#"));
    if (matched != (rest.empty() ? std::nullopt : vorn::DecodeModelName(rest)))
        std::abort();
    vorn::MatchModelUrl(input, prefixes);
    if (vorn::MimeTypeForModelName(input).empty())
        std::abort();
    return 0;
}
