#pragma once
// ImageTagRules: how what the recognisers saw in one image becomes search
// tags: classifier identifiers with their Chinese words, the colour pair of
// the average pixel, and "ocr:" tags of recognised lines. Pure functions of
// their input, safe on any thread; the recognisers themselves live on the Qt
// side (ImageTagExtraction).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pallix::imagetags {

// One classifier result: an identifier (a word or a slash-separated path)
// and its confidence in [0, 1].
struct Classification {
    std::string identifier;
    float confidence = 0;
};

// The 94 English classifier words with a Chinese tag.
const std::unordered_map<std::string, std::string>& englishToChinese();

// The trimmed identifier itself, then each non-empty part between slashes,
// trimmed and lower-cased; without repeats. Empty for a blank identifier.
std::vector<std::string> leafIdentifiers(std::string_view identifier);

// A label as one tag: the tag text splits at white space, so each run of it
// inside the label becomes "_" ("dining table" -> "dining_table"); the search
// index still sees the words apart.
std::string labelTag(std::string_view label);

// Of the first 34 results, those of confidence 0.08 or more: each leaf of the
// lower-cased identifier as a labelTag, followed by its Chinese tag when it has one.
std::vector<std::string> classificationTags(const std::vector<Classification>& results);

// The Chinese and English colour words of an average pixel (8-bit channels).
std::pair<std::string, std::string> colourTags(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// "ocr:" and the text, case and diacritics folded (not width), of the first
// 12 lines that have 2 to 40 user-perceived characters once trimmed.
std::vector<std::string> recognisedTextTags(const std::vector<std::string>& lines);

// An image the system installed rather than one of the user's: under /usr,
// /opt, /snap, /var, /etc or /boot, or in an icon theme of the home folder.
// The tagger leaves these out, so content words find the user's photos.
bool isSystemImagePath(std::string_view path);

// `tags` without repeats, first occurrence kept.
std::vector<std::string> withoutRepeats(std::vector<std::string> tags);

} // namespace pallix::imagetags
