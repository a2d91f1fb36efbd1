// Disk images for the tests, made with the host's tools: an MBR partition
// table (sfdisk), FAT volumes (mkfs.fat) and files copied in (mcopy).
#ifndef DISK_IMAGE_H
#define DISK_IMAGE_H

#include <map>
#include <string>

namespace disk_image {

// A new empty folder on the host; removed with everything in it by clean().
std::string temp_dir();
void clean(const std::string &dir);

// An 8 MiB image with one FAT16 partition from sector 2048 labelled
// `label`, holding `files` (name -> contents) in its root directory. With
// `bad_second` a second partition of a FAT type follows whose boot sector
// is blank. True when every tool succeeded.
bool make(const std::string &path, const std::string &label, const std::map<std::string, std::string> &files,
    bool bad_second = false);

// The bytes of a file in the image's first partition (mtools), or
// "(missing)".
std::string read_file(const std::string &image, const std::string &name);
// fsck.fat -n of the first partition: true when it finds nothing to fix.
bool fsck_clean(const std::string &image);

// Runs a host command line; true on exit status 0.
bool run(const std::string &command);

}  // namespace disk_image

#endif
