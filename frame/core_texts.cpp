// Texts the core hands to the window for display (IDocumentHost), listed
// here so that they are translated with the window's own texts.
#include <QtGlobal>

namespace {

[[maybe_unused]] const char* const kCoreTexts[] = {
    QT_TRANSLATE_NOOP("CoreText", "无法打开所选文件！"),
    QT_TRANSLATE_NOOP("CoreText", "没有未读文件！"),
    QT_TRANSLATE_NOOP("CoreText", "对不起，没有找到你要的文件！"),
};

}  // namespace
