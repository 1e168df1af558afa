#include "SimDescription.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vorn::termbsim {

namespace {

std::string Trim(const std::string& s) {
    const auto begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return {};
    const auto end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

bool ParseInt(const std::string& s, int& out) {
    if (s.empty())
        return false;
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (*end != '\0' || v < INT32_MIN || v > INT32_MAX)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool ParseFlag(const std::string& s) {
    return s == "1" || s == "yes" || s == "true" || s == "on";
}

std::set<int> ParsePorts(const std::string& value) {
    std::set<int> ports;
    std::string list = value;
    for (char& c : list)
        if (c == ',')
            c = ' ';
    std::istringstream in(list);
    std::string item;
    while (in >> item) {
        int from = 0, to = 0;
        const auto dash = item.find('-', 1);
        if (dash != std::string::npos) {
            if (ParseInt(item.substr(0, dash), from) && ParseInt(item.substr(dash + 1), to) &&
                from <= to && to - from < 100000)
                for (int p = from; p <= to; ++p)
                    ports.insert(p);
        } else if (ParseInt(item, from)) {
            ports.insert(from);
        }
    }
    return ports;
}

void PutLe(std::vector<unsigned char>& out, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            bool ok = i + len <= n;
            uint32_t v = c & (0x7F >> len);
            for (size_t k = 1; ok && k < len; ++k) {
                ok = (p[i + k] & 0xC0) == 0x80;
                v = (v << 6) | (p[i + k] & 0x3F);
            }
            static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
            if (ok && v >= kMin[len] && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF)) {
                cp = v;
            } else {
                len = 1;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

SimDescription SimDescription::Defaults() {
    SimDescription d;
    d.ports = {1001};
    // Plainly a test card: nobody may mistake it for a person's data.
    d.name = "测试样卡 TEST CARD";
    d.sex = "男";
    d.nation = "汉";
    d.birthday = "20000101";
    d.address = "模拟读卡器测试地址 SIMULATED READER TEST ADDRESS";
    d.idcode = "000000000000000000";
    d.department = "模拟签发机关 TEST AUTHORITY";
    d.startdate = "20200101";
    d.enddate = "20400101";
    d.nationcode = "01";
    d.samid = "SIM-TERMB-0000";
    d.photo = TestPhoto();
    return d;
}

bool SimDescription::Parse(const std::string& text,
                           const std::string& folder,
                           SimDescription& out,
                           std::string& error) {
    out = Defaults();
    std::istringstream in(text);
    std::string line;
    bool ok = true;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[')
            continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        std::string* text_field = nullptr;
        if (key == "ports") {
            out.ports = value == "none" ? std::set<int>{} : ParsePorts(value);
        } else if (key == "card") {
            out.card = ParseFlag(value);
        } else if (key == "authenticate") {
            out.authenticate = ParseFlag(value);
        } else if (key == "read") {
            out.read = ParseFlag(value);
        } else if (key == "hang") {
            out.hang = ParseFlag(value);
        } else if (key == "delay_ms") {
            if (!ParseInt(value, out.delayMs) || out.delayMs < 0)
                out.delayMs = 0;
        } else if (key == "photo_length") {
            out.hasPhotoLength = ParseInt(value, out.photoLength);
        } else if (key == "log") {
            out.logPath = value.empty() || value[0] == '/' ? value : folder + value;
        } else if (key == "photo") {
            out.photo.clear();
            if (value != "none" && !value.empty()) {
                const std::string path = value[0] == '/' ? value : folder + value;
                std::ifstream file(path, std::ios::binary);
                if (file) {
                    out.photo.assign(std::istreambuf_iterator<char>(file), {});
                } else {
                    error = "cannot read photo " + path;
                    ok = false;
                }
            }
        } else if (key == "name") {
            text_field = &out.name;
        } else if (key == "sex") {
            text_field = &out.sex;
        } else if (key == "nation") {
            text_field = &out.nation;
        } else if (key == "birthday") {
            text_field = &out.birthday;
        } else if (key == "address") {
            text_field = &out.address;
        } else if (key == "idcode") {
            text_field = &out.idcode;
        } else if (key == "department") {
            text_field = &out.department;
        } else if (key == "startdate") {
            text_field = &out.startdate;
        } else if (key == "enddate") {
            text_field = &out.enddate;
        } else if (key == "nationcode") {
            text_field = &out.nationcode;
        } else if (key == "samid") {
            text_field = &out.samid;
        }
        if (text_field)
            *text_field = value;
    }
    return ok;
}

std::vector<unsigned char> SimDescription::TestPhoto() {
    // The size of a decoded card photo, 24 bits per pixel, rows bottom-up and padded to 4 bytes.
    constexpr int kWidth = 102, kHeight = 126;
    constexpr int kRow = (kWidth * 3 + 3) / 4 * 4;
    constexpr int kHeader = 54;
    std::vector<unsigned char> bmp(kHeader + kRow * kHeight, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    PutLe(bmp, 2, static_cast<uint32_t>(bmp.size()), 4);
    PutLe(bmp, 10, kHeader, 4);
    PutLe(bmp, 14, 40, 4);
    PutLe(bmp, 18, kWidth, 4);
    PutLe(bmp, 22, kHeight, 4);
    PutLe(bmp, 26, 1, 2);
    PutLe(bmp, 28, 24, 2);
    PutLe(bmp, 34, static_cast<uint32_t>(kRow * kHeight), 4);
    for (int y = 0; y < kHeight; ++y) {
        const int top = kHeight - 1 - y;  // image row counted from the top
        for (int x = 0; x < kWidth; ++x) {
            unsigned char r = 0xD8, g = 0xE8, b = 0xF8;  // pale blue background
            const int hx = x - kWidth / 2, hy = top - 45;
            const int sx = x - kWidth / 2, sy = top - 126;
            if (hx * hx + hy * hy <= 22 * 22 || (sx * sx) / 4 + sy * sy <= 46 * 46)
                r = g = b = 0x70;  // grey head and shoulders
            if ((x + top) / 6 % 4 == 0 && top < 18)
                r = 0xE0, g = 0x30, b = 0x30;  // red stripes across the top: a test photo
            unsigned char* px = &bmp[kHeader + y * kRow + x * 3];
            px[0] = b;
            px[1] = g;
            px[2] = r;
        }
    }
    return bmp;
}

}  // namespace vorn::termbsim
