#include "common/text_format.h"

namespace kpatch {

std::wstring format_text(std::wstring_view format, std::initializer_list<FormatArg> args) {
    std::wstring out;
    auto next = args.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        wchar_t c = format[i];
        if (c != L'%' || i + 1 == format.size()) {
            out.push_back(c);
            continue;
        }
        wchar_t conversion = format[i + 1];
        if (conversion == L'%') {
            out.push_back(L'%');
            ++i;
        } else if (conversion == L's' || conversion == L'd') {
            if (next != args.end()) {
                if (const auto* n = std::get_if<std::int64_t>(&*next)) out += std::to_wstring(*n);
                else out += std::get<std::wstring_view>(*next);
                ++next;
            }
            ++i;
        } else {
            out.push_back(c);
        }
    }
    if (out.size() > kMaxFormattedChars) out.resize(kMaxFormattedChars);
    return out;
}

}  // namespace kpatch
