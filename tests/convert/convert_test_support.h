// Helpers of the converter's tests: output files made by the platform's own
// AVI writer, their image logs, and outside programs run on the results.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "avi_source.h"
#include "imagelog/log_format.h"

namespace convtest {

// `count` images `width` x `height` that differ from image to image and
// pixel to pixel; with equal channels when `grey`.
std::vector<noctil::convert::Picture> makePictures(std::uint32_t width, std::uint32_t height, std::size_t count,
                                                   bool grey);

// An output file as the program writes it: 24-bit bottom-up rows, 25 a second.
void writeAvi(const std::filesystem::path &file, const std::vector<noctil::convert::Picture> &pictures);
// An AVI file whose stream has `compression` as its format, with `frames`
// frames of `frameBytes` bytes.
void writeAviOfFormat(const std::filesystem::path &file, std::uint32_t compression, std::size_t frames,
                      std::size_t frameBytes);

// The log of `lines` images of `width` x `height`: image k starts k * 10 s
// after 2000-01-01T00:00:00 UTC and lasts 2.5 s, 1.5 s of it amplifier-off.
std::vector<plat::imagelog::LogLine> logLines(std::size_t lines, std::uint32_t width, std::uint32_t height);
void writeLog(const std::filesystem::path &file, const std::vector<plat::imagelog::LogLine> &lines);

// What astropy reads from FITS files, by file name: "shape", "dtype", "data"
// (every value in storage order) and "key NAME" for the header cards the
// tests check; `messages` gets anything astropy complained of.
std::map<std::string, std::map<std::string, std::string>> astropyRead(const std::vector<std::string> &files,
                                                                      std::string &messages);

// The converter as the command line runs it: its exit code (2 for a
// refused command line), what it said on stdout and stderr.
int runConverter(const std::vector<std::string> &args, std::string &out, std::string &err);

// Runs a shell command; gives its exit status, stdout and stderr.
int runCommand(const std::string &command, std::string &out, std::string &err);

std::vector<std::uint8_t> readBytes(const std::filesystem::path &file);
std::string shellQuoted(const std::filesystem::path &path);

}  // namespace convtest
