// Disk images made and checked with the host's tools.
#include "disk_image.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace disk_image {
namespace {

constexpr long kFirstSector = 2048;
constexpr long kFirstSectors = 8192;  // 4 MiB

std::string quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string partition(const std::string &image) { return quote(image) + "@@" + std::to_string(kFirstSector * 512); }

}  // namespace

bool run(const std::string &command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "trellow-XXXXXX").string();
    char *made = mkdtemp(pattern.data());
    return made ? std::string(made) : std::string();
}

void clean(const std::string &dir) {
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
}

bool make(const std::string &path, const std::string &label, const std::map<std::string, std::string> &files,
    bool bad_second) {
    std::string table =
        "label: dos\nstart=" + std::to_string(kFirstSector) + ", size=" + std::to_string(kFirstSectors) + ", type=e\n";
    if (bad_second) table += "start=" + std::to_string(kFirstSector + kFirstSectors) + ", size=4096, type=6\n";
    std::string q = quote(path);
    if (!run("truncate -s 8M " + q)) return false;
    if (!run("printf '%s' " + quote(table) + " | sfdisk " + q)) return false;
    if (!run("mkfs.fat -F 16 -s 1 -S 512 -n " + quote(label) + " --offset " + std::to_string(kFirstSector) + " " + q +
             " " + std::to_string(kFirstSectors / 2)))
        return false;
    std::string dir = std::filesystem::path(path).parent_path().string();
    for (const auto &[name, contents] : files) {
        std::string source = dir + "/.content";
        std::ofstream(source, std::ios::binary) << contents;
        if (!run("MTOOLS_SKIP_CHECK=1 mcopy -o -i " + partition(path) + " " + quote(source) + " " + quote("::" + name)))
            return false;
        std::filesystem::remove(source);
    }
    return true;
}

std::string read_file(const std::string &image, const std::string &name) {
    std::string command =
        "MTOOLS_SKIP_CHECK=1 mtype -i " + partition(image) + " " + quote("::" + name) + " 2>/dev/null";
    FILE *p = popen(command.c_str(), "r");
    if (!p) return "(missing)";
    std::string text;
    char buf[512];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    return pclose(p) == 0 ? text : "(missing)";
}

bool fsck_clean(const std::string &image) {
    // fsck.fat reads a partition only as a file of its own.
    std::string part = image + ".part";
    bool ok = run("dd if=" + quote(image) + " of=" + quote(part) + " bs=512 skip=" + std::to_string(kFirstSector) +
                  " count=" + std::to_string(kFirstSectors)) &&
              run("fsck.fat -n " + quote(part));
    std::filesystem::remove(part);
    return ok;
}

}  // namespace disk_image
