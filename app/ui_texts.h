/*
 * Interface texts that the language packs do not translate: texts the screens look up
 * but that have no entry (so they stay Chinese in English mode) and texts the screens
 * show as they are.
 */
#ifndef UI_TEXTS_H
#define UI_TEXTS_H

/* Looked up, no translation. */
inline constexpr const char *UI_TEXT_EXPORT_OK = "导出成功！";
inline constexpr const char *UI_TEXT_EXPORT_FAILED = "导出失败！";
inline constexpr const char *UI_TEXT_BAD_PSN_ID = "PSN ID 错误，\n请检查步骤2~4!";
inline constexpr const char *UI_TEXT_ID_LABEL = "ID:";

/* Shown as they are. */
inline constexpr const char *UI_TEXT_LANG_CHINESE = "中文";
inline constexpr const char *UI_TEXT_LANG_ENGLISH = "English";
inline constexpr const char *UI_TEXT_STEPS[] = {"1", "2", "3", "4"};

/* Every text above, for checks that must see them all. */
inline constexpr const char *UI_TEXTS_UNTRANSLATED[] = {
    UI_TEXT_EXPORT_OK,
    UI_TEXT_EXPORT_FAILED,
    UI_TEXT_BAD_PSN_ID,
    UI_TEXT_ID_LABEL,
    UI_TEXT_LANG_CHINESE,
    UI_TEXT_LANG_ENGLISH,
    UI_TEXT_STEPS[0],
    UI_TEXT_STEPS[1],
    UI_TEXT_STEPS[2],
    UI_TEXT_STEPS[3],
};

#endif
