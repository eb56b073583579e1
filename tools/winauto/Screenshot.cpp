// Screenshots of a window's screen area, and the colour of a control's text in them. See
// Automation.h.
#include "Automation.h"

#include <fstream>

namespace automation {

std::optional<Screenshot> Screenshot::OfWindow(HWND window)
{
    RECT area;
    if (!GetWindowRect(window, &area))
        return std::nullopt;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return std::nullopt;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    std::optional<Screenshot> shot;
    HDC screen = GetDC(nullptr);
    HDC memory = screen != nullptr ? CreateCompatibleDC(screen) : nullptr;
    void* bits = nullptr;
    HBITMAP bitmap = memory != nullptr ? CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    if (bitmap != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY)) {
            GdiFlush();
            const auto* pixels = static_cast<const uint32_t*>(bits);
            shot.emplace();
            shot->m_area = area;
            shot->m_width = width;
            shot->m_height = height;
            shot->m_pixels.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
            // The fourth byte is undefined after a copy from the screen (icons leave 255
            // there); viewers would take it for transparency.
            for (uint32_t& p : shot->m_pixels)
                p &= 0x00FFFFFFu;
        }
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    if (memory != nullptr)
        DeleteDC(memory);
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    return shot;
}

Rgb Screenshot::Pixel(int x, int y) const
{
    const uint32_t p = m_pixels[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)];
    return Rgb{static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p)};
}

bool Screenshot::SaveBmp(const std::wstring& path) const
{
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = m_width;
    header.biHeight = -m_height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    const DWORD pixelBytes = static_cast<DWORD>(m_pixels.size() * sizeof(uint32_t));
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + pixelBytes;

    std::ofstream out(path.c_str(), std::ios::binary);  // MinGW's wide-path overload
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&header), sizeof(header));
    out.write(reinterpret_cast<const char*>(m_pixels.data()), pixelBytes);
    return static_cast<bool>(out.flush());
}

Ink CountInk(const Screenshot& shot, const RECT& screenArea)
{
    RECT inside;
    if (!IntersectRect(&inside, &screenArea, &shot.Area()))
        return Ink{};
    Ink ink;
    for (LONG y = inside.top; y < inside.bottom; ++y) {
        for (LONG x = inside.left; x < inside.right; ++x) {
            const Rgb p = shot.Pixel(x - shot.Area().left, y - shot.Area().top);
            if (p.r == 255 && p.g == 0 && p.b == 0)
                ++ink.red;
            else if (p.r <= 0x50 && p.g <= 0x50 && p.b <= 0x50)
                ++ink.dark;
        }
    }
    return ink;
}

TextColour ClassifyInk(const Ink& ink)
{
    if (ink.red > 0)
        return TextColour::Red;
    return ink.dark > 0 ? TextColour::Dark : TextColour::None;
}

std::optional<TextColour> ControlTextColour(HWND control)
{
    const std::optional<Screenshot> shot = Screenshot::OfWindow(control);
    if (!shot)
        return std::nullopt;
    return ClassifyInk(CountInk(*shot, shot->Area()));
}

std::optional<TextColour> ShownTextColour(HWND control, TextColour expected, DWORD timeoutMs)
{
    for (int i = 0; i < 2; ++i)
        SendMessageTimeoutW(control, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    std::optional<TextColour> seen = ControlTextColour(control);
    while (seen != expected && GetTickCount64() < end) {
        Sleep(20);
        seen = ControlTextColour(control);
    }
    return seen;
}

const char* ToString(TextColour colour)
{
    switch (colour) {
    case TextColour::Red:
        return "red";
    case TextColour::Dark:
        return "dark";
    default:
        return "none";
    }
}

}  // namespace automation
