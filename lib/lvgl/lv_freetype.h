/*
 * FreeType: the library, its cache manager for at most `max_faces` open faces, a
 * character-map cache and a small-bitmap cache. No face is opened: the screens draw
 * with the compiled-in bitmap fonts.
 */
#ifndef LV_FREETYPE_H
#define LV_FREETYPE_H

#include "lv_types.h"

/* 0 on success (also when already set up), else FreeType's error code. */
int lv_freetype_init(uint8_t max_faces);
/* Releases everything lv_freetype_init made. */
void lv_freetype_destroy(void);

#endif
