#include "tests/plugin/dialog_template.h"

#include <cstdint>
#include <cstring>

namespace zyn::test {
namespace {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    template <typename T> T Read() {
        T value{};
        if (offset_ + sizeof(T) <= size_)
            std::memcpy(&value, data_ + offset_, sizeof(T));
        offset_ += sizeof(T);
        return value;
    }
    std::wstring String() {
        std::wstring text;
        for (WORD c = Read<WORD>(); c != 0 && offset_ <= size_; c = Read<WORD>())
            text.push_back(static_cast<wchar_t>(c));
        return text;
    }
    // A string or an ordinal (0xFFFF followed by the number).
    std::wstring StringOrOrdinal() {
        if (Peek() == 0xFFFF) {
            Read<WORD>();
            return Ordinal(Read<WORD>());
        }
        return String();
    }
    void AlignTo4() { offset_ = (offset_ + 3) & ~size_t(3); }
    void Skip(size_t bytes) { offset_ += bytes; }

private:
    WORD Peek() const {
        WORD value = 0;
        if (offset_ + 2 <= size_)
            std::memcpy(&value, data_ + offset_, 2);
        return value;
    }
    static std::wstring Ordinal(WORD ordinal) {
        switch (ordinal) {
        case 0x80:
            return L"Button";
        case 0x81:
            return L"Edit";
        case 0x82:
            return L"Static";
        case 0x83:
            return L"ListBox";
        case 0x84:
            return L"ScrollBar";
        case 0x85:
            return L"ComboBox";
        default:
            return L"#" + std::to_wstring(ordinal);
        }
    }

    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

} // namespace

const TemplateControl* DialogTemplate::Control(DWORD id) const {
    for (const TemplateControl& control : controls) {
        if (control.id == id)
            return &control;
    }
    return nullptr;
}

DialogTemplate ReadDialogTemplate(HMODULE module, int id) {
    DialogTemplate dialog;
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const auto* data = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    if (!data)
        return dialog;
    Reader reader(data, SizeofResource(module, resource));
    if (reader.Read<WORD>() != 1 || reader.Read<WORD>() != 0xFFFF)
        return dialog;    // not an extended template
    reader.Read<DWORD>(); // help id
    reader.Read<DWORD>(); // extended style
    dialog.style = reader.Read<DWORD>();
    const WORD count = reader.Read<WORD>();
    reader.Read<short>();
    reader.Read<short>();
    dialog.width = reader.Read<short>();
    dialog.height = reader.Read<short>();
    reader.StringOrOrdinal(); // menu
    reader.StringOrOrdinal(); // class
    dialog.caption = reader.String();
    if (dialog.style & (DS_SETFONT | DS_SHELLFONT)) {
        dialog.pointSize = reader.Read<WORD>();
        reader.Read<WORD>(); // weight
        reader.Read<BYTE>(); // italic
        reader.Read<BYTE>(); // character set
        dialog.font = reader.String();
    }
    for (WORD i = 0; i < count; ++i) {
        reader.AlignTo4();
        TemplateControl control;
        reader.Read<DWORD>(); // help id
        reader.Read<DWORD>(); // extended style
        control.style = reader.Read<DWORD>();
        control.rect.left = reader.Read<short>();
        control.rect.top = reader.Read<short>();
        control.rect.right = reader.Read<short>();
        control.rect.bottom = reader.Read<short>();
        control.id = reader.Read<DWORD>();
        control.windowClass = reader.StringOrOrdinal();
        control.text = reader.StringOrOrdinal();
        reader.Skip(reader.Read<WORD>()); // creation data
        dialog.controls.push_back(control);
    }
    dialog.found = true;
    return dialog;
}

std::wstring ReadString(HMODULE module, int id) {
    const wchar_t* text = nullptr;
    const int length =
        LoadStringW(module, static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

} // namespace zyn::test
