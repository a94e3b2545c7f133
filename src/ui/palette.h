// The program's colours. Fills and pens are GDI+ ARGB (0xAARRGGBB); text colours are GDI
// COLORREF values (0x00BBGGRR, written here with RGB()).
#pragma once

#include <windows.h>

#include <cstdint>

// The view's flat background, behind the cards and the download rows.
constexpr COLORREF ViewBackground = RGB(245, 246, 248);

// Fills and pens.
constexpr uint32_t Surface = 0xFFFFFFFF;
constexpr uint32_t Hairline = 0x26E5E6EB;
constexpr uint32_t HairlineHot = 0x3CD6D7E0;
constexpr uint32_t RowBorder = 0x1EE5E6EB;
constexpr uint32_t BannerBorder = 0x46E5E6EB;
constexpr uint32_t BannerFill = 0xF7FFFFFF;
constexpr uint32_t Accent = 0xFF5B4DFF;
constexpr uint32_t AccentHot = 0xFF4B3FDB;
constexpr uint32_t AccentWash = 0x465B4DFF;
constexpr uint32_t AccentHairline = 0x265B4DFF;
constexpr uint32_t Neutral = 0xFFF2F3F5;
constexpr uint32_t Track = 0xFFF0F1F4;
constexpr uint32_t Success = 0xFF00B42A;
constexpr uint32_t SuccessWash = 0x2600B42A;
constexpr uint32_t DangerWash = 0x46F53F3F;
constexpr uint32_t ScrollTrack = 0x12BEC0C9;
constexpr uint32_t ScrollThumb = 0x6EA0A3AF;
constexpr uint32_t ToolActiveFill = 0x2EFFFFFF;
constexpr uint32_t ToolHoverFill = 0x1EFFFFFF;
constexpr uint32_t ToolActiveBorder = 0x5AFFFFFF;

// Text.
constexpr COLORREF TextPrimary = RGB(29, 33, 41);
constexpr COLORREF TextSecondary = RGB(134, 144, 156);
constexpr COLORREF TextTertiary = RGB(78, 89, 105);
constexpr COLORREF TextAccent = RGB(91, 77, 255);
constexpr COLORREF TextSuccess = RGB(0, 180, 42);
constexpr COLORREF TextDanger = RGB(245, 63, 63);
constexpr COLORREF TextWarning = RGB(214, 116, 21);
constexpr COLORREF TextDisabled = RGB(178, 186, 198);
constexpr COLORREF TextOnAccent = RGB(255, 255, 255);
constexpr COLORREF ToolLabel = RGB(235, 238, 255);

// Icon placeholders, indexed by application id mod 5.
constexpr COLORREF PlaceholderColours[5] = {RGB(79, 70, 229), RGB(14, 165, 233), RGB(245, 158, 11),
                                            RGB(16, 185, 129), RGB(236, 72, 153)};
