// Messages in the user's language: the locale's catalogue through gettext, or
// the Spanish one read directly for the dialogue.
#include "messages.hpp"

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <libintl.h>
#include <string>
#include <system_error>
#include <unordered_map>

#ifndef FASOGRAM_LOCALEDIR
#define FASOGRAM_LOCALEDIR "/usr/local/share/locale"
#endif

namespace fasogram {

namespace {

constexpr const char* domain = "fasogram";

bool spanish = false; // the Spanish catalogue whatever the locale

std::string directory;

// The directory of the catalogues: the environment's, the build tree's for
// a program of the build tree (fasogram, the tests), or the installed one.
const std::string& find_directory() {
    if (!directory.empty()) return directory;
    if (const char* given = std::getenv("FASOGRAM_LOCALEDIR"); given != nullptr && *given != '\0')
        return directory = given;
#if defined(FASOGRAM_BUILD_ROOT) && defined(FASOGRAM_BUILD_LOCALEDIR)
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path root =
        std::filesystem::weakly_canonical(FASOGRAM_BUILD_ROOT, error);
    if (!error) {
        const auto mismatch = std::mismatch(root.begin(), root.end(), self.begin(), self.end());
        if (mismatch.first == root.end()) return directory = FASOGRAM_BUILD_LOCALEDIR;
    }
#endif
    return directory = FASOGRAM_LOCALEDIR;
}

// A compiled catalogue (.mo) read whole: message id to message.  Empty when
// the file is missing or not a catalogue.
std::unordered_map<std::string, std::string> read_catalogue(const std::filesystem::path& path) {
    std::unordered_map<std::string, std::string> messages;
    std::ifstream in(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto word = [&data](std::size_t at, bool swap) -> std::uint32_t {
        if (at + 4 > data.size()) return 0;
        std::uint32_t value;
        std::memcpy(&value, data.data() + at, 4);
        return swap ? __builtin_bswap32(value) : value;
    };
    if (data.size() < 28) return messages;
    bool swap = false;
    if (word(0, false) != 0x950412deu) {
        if (word(0, true) != 0x950412deu) return messages;
        swap = true;
    }
    const std::uint32_t count = word(8, swap), ids = word(12, swap), texts = word(16, swap);
    auto text = [&](std::uint32_t table, std::uint32_t i) -> std::string {
        const std::size_t at = std::size_t{table} + 8u * i;
        const std::size_t length = word(at, swap), offset = word(at + 4, swap);
        if (at + 8 > data.size() || offset > data.size() || length > data.size() - offset)
            return {};
        return data.substr(offset, length);
    };
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string id = text(ids, i);
        if (!id.empty()) messages.emplace(std::move(id), text(texts, i));
    }
    return messages;
}

const std::unordered_map<std::string, std::string>& spanish_catalogue() {
    static const auto catalogue = read_catalogue(std::filesystem::path(find_directory()) / "es" /
                                                 "LC_MESSAGES" / "fasogram.mo");
    return catalogue;
}

} // namespace

void use_locale_messages() {
    std::setlocale(LC_MESSAGES, "");
    bindtextdomain(domain, find_directory().c_str());
    bind_textdomain_codeset(domain, "UTF-8");
}

const char* message_directory() {
    return find_directory().c_str();
}

SpanishMessages::SpanishMessages() : previous_(spanish) {
    spanish = true;
}

SpanishMessages::~SpanishMessages() {
    spanish = previous_;
}

const char* translate(const char* msgid) {
    if (spanish) {
        const auto& catalogue = spanish_catalogue();
        const auto found = catalogue.find(msgid);
        return found == catalogue.end() ? msgid : found->second.c_str();
    }
    return dgettext(domain, msgid);
}

} // namespace fasogram
