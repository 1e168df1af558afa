#pragma once

#include <set>
#include <string>
#include <vector>

namespace vorn::termbsim {

// What the simulated reader does, read from a UTF-8 description file of "key = value" lines
// (termb-sim.example.ini shows one)
// ('#' or ';' starts a comment line, [sections] are ignored, unknown keys are ignored):
//   ports        answering ports: numbers and ranges ("1001 3 5-7"); "none" or empty: no reader
//   card         1 = a card lies on the reader, 0 = none
//   authenticate 1 = CVR_Authenticate finds the card (needs card = 1)
//   read         1 = CVR_Read_FPContent succeeds (needs card = 1)
//   name sex nation birthday address idcode department startdate enddate nationcode samid
//                the texts (UTF-8 here, UTF-16 out); a text longer than the caller's buffer is
//                cut to the buffer and then left without terminator
//   photo        image file, relative to the description's folder; "none": no image data;
//                omitted: the built-in test photo (a 102x126 BMP)
//   photo_length length GetBMPData reports instead of the true one (e.g. -1 or 50000)
//   delay_ms     pause inside every call
//   hang         1 = every call blocks until the description no longer says so (a hung port)
//   log          call log file, relative to the description's folder (appended, one call a line)
// Without a description every key has the default of a reader on port 1001 holding a test card.
struct SimDescription {
    std::set<int> ports;
    bool card = true;
    bool authenticate = true;
    bool read = true;
    std::string name, sex, nation, birthday, address, idcode, department, startdate, enddate,
        nationcode, samid;
    std::vector<unsigned char> photo;
    bool hasPhotoLength = false;
    int photoLength = 0;
    int delayMs = 0;
    bool hang = false;
    std::string logPath;

    static SimDescription Defaults();
    // Parses `text` on top of the defaults; relative paths are taken from `folder` (ends in
    // "/"). Returns false with `error` set when a named photo cannot be read.
    static bool Parse(const std::string& text,
                      const std::string& folder,
                      SimDescription& out,
                      std::string& error);
    // The built-in test photo: a 24-bit BMP drawn in code.
    static std::vector<unsigned char> TestPhoto();
};

// UTF-8 to UTF-16; malformed sequences become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);

}  // namespace vorn::termbsim
