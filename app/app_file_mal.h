/* A block device over an open file of the file tree (a disk image): the
 * device the mount command puts under an image's FAT partitions.
 *
 * init takes the file's size rounded down to whole blocks; read and write
 * seek the file to the address and move the bytes there, answering the file
 * API's count or code. A seek that fails fails the transfer, so nothing is
 * ever read or written at another place. */
#ifndef APP_FILE_MAL_H
#define APP_FILE_MAL_H

#include "zel_fs.h"
#include "zel_mal.h"

extern "C" {

typedef struct app_file_mal {
    zel_mal_t mal;
    zel_file_t *file;     /* open, owned by the creator */
    uint32_t block_size;
} app_file_mal_t;

extern const zel_mal_drv_t app_file_mal_drv;

}  // extern "C"

#endif
