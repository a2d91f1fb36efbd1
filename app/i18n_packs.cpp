#include "i18n_packs.h"

uint8_t i18n_plural_zh_cn(int32_t n) {
    (void)n;
    return 5;
}

uint8_t i18n_plural_en_us(int32_t n) { return (n == 1 || n == -1) ? 1 : 5; }

namespace {

/* The keys are the Chinese texts the screens pass; "zh-CN" needs no table. */
const i18n_lang zh_cn = {"zh-CN", nullptr, {}, i18n_plural_zh_cn};

// clang-format off
const i18n_phrase en_us_phrases[] = {
    {"点击此处进行PSN账号设置",
     "Click here to set up your PSN account"},
    {"点击保存",
     "Click save"},
    {"请选择对应的update.bin文件进行升级",
     "Please select the corresponding update.bin file to upgrade"},
    {"选择升级固件",
     "Select upgrade firmware"},
    {"升级",
     "Upgrade"},
    {"请将PS5游戏机通过WIFI或者有线连接网络\n为避免PS5游戏机网络不稳定\n我们强烈建议PS5游戏机通过#ff0000 有线方式#连接网络",
     "Please put the PS5 console through WIFI or Ethernet. To avoid unstable PS5\nconsole network, We strongly recommend PS5 console to connect to the network\nvia #ff0000 Ethernet#"},
    {"请将游戏机显示的八位数填写到上方，样式为：12345678",
     "Please fill in the eight digits displayed, the format is: 12345678"},
    {"正在安装驱动，可能需要等几分钟，驱动安装完成之后自动重启本应用",
     "The driver is being installed, you may need to wait a few minutes, the\n application will be restarted automatically after the driver is installed."},
    {"确认",
     "Confirmed"},
    {"配置保存成功",
     "Configuration saved successfully"},
    {"返回",
     "Back"},
    {"升级成功",
     "Upgrade success"},
    {"安装驱动失败",
     "Failed to install driver"},
    {"当前版本是：",
     "The current version is "},
    {"输入与PS5游戏机登录的同一PSN账号密码，登录成功后，复制整个网址并点击下方2",
     "Enter the same PSN account and password you used to log into PS5. After successful login, copy the \"Full URL\" and click following 2"},
    {"不保存返回",
     "Return without saving"},
    {"配置",
     "Configuration"},
    {"PS5主机八位数配对码，在主机系统中选择（设定->系统->远程游玩->开启远程游玩->关联设备）",
     "PS5 console eight-digit matching code\nChoose from ps5 system(Settings->System->Remote Play->Enable Remote Play->Link Device)"},
    {"手动获取 PSN ID",
     "PSN ID manually"},
    {"复制成功之后请点击此处，等待 PSN ID 显示",
     "Click here after copy successfully, and wait for the PSN ID to be displayed"},
    {"找不到版本文件！",
     "Version file not found!"},
    {"update bin文件不存在！",
     "update bin file does not exist!"},
    {"读取粘贴板失败，请检查复制的内容!",
     "Failed to read the pasteboard, please check the copied content!"},
    {"解析粘贴板的链接出错，请重新复制!",
     "Error in parsing the link in the pasteboard, please copy it again!"},
    {"手动获取PSN ID成功!",
     "Manually obtain PSN ID successfully!"},
    {"粘贴板的内容不是链接也不是PSN ID，请重新复制!",
     "The content of the pasteboard is not a link nor a PSN ID, please re-copy!"},
    {"校验码为空或者太短，\n请检查步骤6!",
     "Check code is empty or too short, \nplease check step 6!"},
    {"联网获取PSN ID失败，\n请检查网络或者使用步骤2手动获取!",
     "Failed to get PSN ID, please check network or use step 2 to get it manually"},
    {"升级失败！",
     "Upgrade failed!"},
    {"发现适配器",
     "Found adapter"},
    {"请连接适配器",
     "Adapter not found"},
    {"将适配器升级键按住不放松，插入PC USB口在松开配对按钮，既可配置和升级",
     "Hold adpater update button and insert into PC USB port, then\n release pairing button, user can set and update"},
    {"脚本",
     "Script"},
    {"导出脚本",
     "Export Script"},
    {"导入脚本",
     "Import Script"},
    {"导入成功！",
     "Import successfully!"},
    {"导入失败！",
     "Import failed!"},
    {"无法打开文件选择窗口！",
     "The file chooser could not be opened!"},
    {"所选文件无法使用，请重新选择！",
     "The chosen file cannot be used, please choose another one!"},
    {"所选文件无法使用（path > 259 B），请重新选择！",
     "The chosen file's name is too long: its path in the program would exceed 259 bytes, please rename it or "
     "choose another one!"},
    {"正在复制，请等待复制完成！",
     "A copy is still running, please wait for it to end!"},
    {"正在复制，复制完成之后自动关窗口",
     "A copy is still running; the program will close when it has finished"},
    {"文件有 %ld B，适配器上的 %s 太短（%ld B）",
     "The file is too large: %ld bytes, %s on the adapter holds %ld bytes"},
    {"无法读取适配器的内容",
     "The adapter's disk could not be read"},
    {"无法打开网址",
     "No browser could be opened"},
    {nullptr, nullptr},
};
// clang-format on

const i18n_lang en_us = {"en-US", en_us_phrases, {}, i18n_plural_en_us};

}  // namespace

const i18n_lang *const i18n_packs[] = {&zh_cn, &en_us, nullptr};
