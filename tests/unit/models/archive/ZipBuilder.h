#pragma once

// Builds zip archives byte by byte for the archive tests, so that every field a hostile or
// unusual archive could carry (names, host system, attributes, extra fields, methods, CRCs,
// encryption) can be set directly.

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ziptest {

constexpr uint16_t kUnix = 0x031E;  // version made by: Unix, 3.0
constexpr uint16_t kDos = 0x0014;   // version made by: MS-DOS, 2.0

inline uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
    const uint32_t date = uint32_t(year - 1980) << 9 | uint32_t(month) << 5 | uint32_t(day);
    const uint32_t time = uint32_t(hour) << 11 | uint32_t(minute) << 5 | uint32_t(second / 2);
    return date << 16 | time;
}

// A "UT" extra block with the given flags and values (seconds since 1970), in order.
inline std::string UtBlock(uint8_t flags, const std::vector<int32_t>& values) {
    std::string data(1, char(flags));
    for (int32_t v : values)
        for (int i = 0; i < 4; ++i)
            data.push_back(char((uint32_t(v) >> (8 * i)) & 0xFF));
    std::string block = "UT";
    block.push_back(char(data.size() & 0xFF));
    block.push_back(char(data.size() >> 8));
    return block + data;
}

struct Entry {
    std::string name;  // raw bytes as stored
    std::string data;  // uncompressed content
    uint16_t method = 8;
    uint16_t versionMadeBy = kUnix;
    uint32_t external = 0100644u << 16;
    uint32_t dosDateTime = DosDateTime(2021, 6, 15, 12, 30, 0);
    std::string localExtra;
    const char* password = nullptr;
    bool dataDescriptor = false;
    std::optional<uint32_t> centralCrc;    // a wrong CRC in both headers
    std::optional<uint16_t> localMethod;   // a local header that disagrees
    std::optional<std::string> rawData;    // bytes stored instead of compressing `data`
    std::optional<uint32_t> recordedSize;  // an uncompressed size recorded instead of data's

    static Entry File(std::string name, std::string data) {
        Entry e;
        e.name = std::move(name);
        e.data = std::move(data);
        return e;
    }
    static Entry Dir(std::string name) {
        Entry e;
        e.name = std::move(name);
        e.method = 0;
        e.external = (040755u << 16) | 0x10;
        return e;
    }
};

namespace detail {
inline void Put16(std::string& s, uint32_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char((v >> 8) & 0xFF));
}
inline void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
inline std::string Deflate(const std::string& in) {
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, in.size()) + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    zs.avail_in = uInt(in.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}
struct Keys {
    uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
    const z_crc_t* t = get_crc_table();
    void Update(uint8_t c) {
        k0 = t[(k0 ^ c) & 0xFF] ^ (k0 >> 8);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = t[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
    }
    uint8_t Encrypt(uint8_t plain) {
        const uint32_t tmp = (k2 | 2) & 0xFFFF;
        const auto c = uint8_t(plain ^ ((tmp * (tmp ^ 1)) >> 8));
        Update(plain);
        return c;
    }
};
}  // namespace detail

inline std::string Build(const std::vector<Entry>& entries) {
    using namespace detail;
    std::string out, central;
    for (const Entry& e : entries) {
        const uint32_t realCrc =
            uint32_t(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), uInt(e.data.size())));
        const uint32_t crc = e.centralCrc.value_or(realCrc);
        std::string body = e.rawData ? *e.rawData : (e.method == 8 ? Deflate(e.data) : e.data);
        uint16_t flags = 0x800;  // names are UTF-8 (the layer ignores this anyway)
        if (e.dataDescriptor)
            flags |= 8;
        if (e.password) {
            flags |= 1;
            Keys keys;
            for (const char* p = e.password; *p; ++p)
                keys.Update(uint8_t(*p));
            std::string header;
            for (int i = 0; i < 11; ++i)
                header.push_back(char(keys.Encrypt(uint8_t(0x5A + i))));
            header.push_back(char(keys.Encrypt(
                e.dataDescriptor ? uint8_t((e.dosDateTime >> 8) & 0xFF) : uint8_t(crc >> 24))));
            for (char& c : body)
                c = char(keys.Encrypt(uint8_t(c)));
            body = header + body;
        }
        const uint32_t offset = uint32_t(out.size());
        Put32(out, 0x04034b50);
        Put16(out, 20);
        Put16(out, flags);
        Put16(out, e.localMethod.value_or(e.method));
        Put32(out, e.dosDateTime);
        Put32(out, e.dataDescriptor ? 0 : crc);
        Put32(out, e.dataDescriptor ? 0 : uint32_t(body.size()));
        Put32(out, e.dataDescriptor ? 0 : e.recordedSize.value_or(uint32_t(e.data.size())));
        Put16(out, uint32_t(e.name.size()));
        Put16(out, uint32_t(e.localExtra.size()));
        out += e.name + e.localExtra + body;
        if (e.dataDescriptor) {
            Put32(out, 0x08074b50);
            Put32(out, crc);
            Put32(out, uint32_t(body.size()));
            Put32(out, e.recordedSize.value_or(uint32_t(e.data.size())));
        }
        Put32(central, 0x02014b50);
        Put16(central, e.versionMadeBy);
        Put16(central, 20);
        Put16(central, flags);
        Put16(central, e.method);
        Put32(central, e.dosDateTime);
        Put32(central, crc);
        Put32(central, uint32_t(body.size()));
        Put32(central, e.recordedSize.value_or(uint32_t(e.data.size())));
        Put16(central, uint32_t(e.name.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, e.external);
        Put32(central, offset);
        central += e.name;
    }
    const uint32_t centralOffset = uint32_t(out.size());
    out += central;
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, uint32_t(entries.size()));
    Put16(out, uint32_t(entries.size()));
    Put32(out, uint32_t(central.size()));
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
}

}  // namespace ziptest
