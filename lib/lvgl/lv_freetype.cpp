#include "lv_freetype.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CACHE_H

namespace {

FT_Library library;
FTC_Manager cache_manager;
FTC_CMapCache cmap_cache;
FTC_SBitCache sbit_cache;

/* No face is registered, so any face the cache asks for cannot be opened. */
FT_Error face_requester(FTC_FaceID face_id, FT_Library lib, FT_Pointer req_data, FT_Face *aface) {
    LV_UNUSED(face_id);
    LV_UNUSED(lib);
    LV_UNUSED(req_data);
    *aface = nullptr;
    return FT_Err_Cannot_Open_Resource;
}

}  // namespace

int lv_freetype_init(uint8_t max_faces) {
    if (library != nullptr) return FT_Err_Ok;
    FT_Error error = FT_Init_FreeType(&library);
    if (error != FT_Err_Ok) {
        library = nullptr;
        return error;
    }
    error = FTC_Manager_New(
        library, max_faces, LV_FREETYPE_MAX_SIZES, LV_FREETYPE_MAX_BYTES, face_requester, nullptr, &cache_manager);
    if (error == FT_Err_Ok) error = FTC_CMapCache_New(cache_manager, &cmap_cache);
    if (error == FT_Err_Ok) error = FTC_SBitCache_New(cache_manager, &sbit_cache);
    if (error != FT_Err_Ok) lv_freetype_destroy();
    return error;
}

void lv_freetype_destroy(void) {
    /* The manager owns the caches. */
    if (cache_manager != nullptr) FTC_Manager_Done(cache_manager);
    if (library != nullptr) FT_Done_FreeType(library);
    cache_manager = nullptr;
    cmap_cache = nullptr;
    sbit_cache = nullptr;
    library = nullptr;
}
