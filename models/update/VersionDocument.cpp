#include "models/update/VersionDocument.h"

#include <json/json.h>

#include <climits>
#include <cmath>
#include <memory>

namespace vorn {
namespace {

const Json::Value* Member(const Json::Value& object, std::string_view key) {
    return object.find(key.data(), key.data() + key.size());
}

}  // namespace

std::optional<VersionDocument> ParseVersionDocument(std::string_view text) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    // The document is one flat object; the reader's default nesting limit (1,000) let a
    // kilobyte of brackets from the network cost a thousand-deep recursion and its unwinding.
    builder["stackLimit"] = 64;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    try {
        // jsoncpp throws on some hostile inputs (nesting beyond its stack limit); a document
        // the service sends must never end the process.
        if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors))
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!root.isObject())
        return std::nullopt;

    VersionDocument doc;
    const Json::Value* ver = Member(root, "modelVer");
    if (ver) {
        switch (ver->type()) {
            case Json::nullValue:
                break;
            case Json::intValue:
            case Json::uintValue:
                if (!ver->isInt())
                    return std::nullopt;
                doc.modelVer = ver->asInt();
                break;
            case Json::realValue: {
                const double whole = std::trunc(ver->asDouble());
                if (!(whole >= INT_MIN && whole <= INT_MAX))  // also false for NaN
                    return std::nullopt;
                doc.modelVer = static_cast<int>(whole);
                break;
            }
            case Json::booleanValue:
                doc.modelVer = ver->asBool() ? 1 : 0;
                break;
            default:
                return std::nullopt;
        }
    }

    const Json::Value* url = Member(root, "downloadUrl");
    if (url && !url->isNull()) {
        if (url->isArray() || url->isObject())
            return std::nullopt;
        doc.downloadUrl = url->asString();
    }
    return doc;
}

}  // namespace vorn
