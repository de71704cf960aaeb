#pragma once
// Saves what the screen shows of a window as a PNG file, so the pages of the
// wizard can be looked at after a test run. The image data is stored
// uncompressed (deflate "stored" blocks), which needs no library.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace png_shot {

inline uint32_t Crc(const uint8_t* p, size_t n, uint32_t crc = 0xFFFFFFFFu) {
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

inline void Be32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out->push_back(uint8_t(v >> (8 * i)));
}

inline void Chunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& data) {
  Be32(out, uint32_t(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  out->insert(out->end(), body.begin(), body.end());
  Be32(out, Crc(body.data(), body.size()) ^ 0xFFFFFFFFu);
}

}  // namespace png_shot

inline bool SaveWindowPng(HWND hWnd, const std::wstring& path) {
  RECT rc;
  if (!GetWindowRect(hWnd, &rc)) return false;
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) return false;
  HDC hScreen = GetDC(nullptr);
  HDC hMem = CreateCompatibleDC(hScreen);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* pvBits = nullptr;
  HBITMAP hBitmap = CreateDIBSection(hScreen, &bi, DIB_RGB_COLORS, &pvBits, nullptr, 0);
  HGDIOBJ hOld = SelectObject(hMem, hBitmap);
  BitBlt(hMem, 0, 0, w, h, hScreen, rc.left, rc.top, SRCCOPY);
  GdiFlush();
  std::vector<uint8_t> raw;
  raw.reserve(size_t(h) * (1 + 3 * w));
  const uint8_t* pb = static_cast<const uint8_t*>(pvBits);
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);
    for (int x = 0; x < w; ++x) {
      const uint8_t* px = pb + (size_t(y) * w + x) * 4;
      raw.push_back(px[2]);
      raw.push_back(px[1]);
      raw.push_back(px[0]);
    }
  }
  SelectObject(hMem, hOld);
  DeleteObject(hBitmap);
  DeleteDC(hMem);
  ReleaseDC(nullptr, hScreen);

  std::vector<uint8_t> z = {0x78, 0x01};
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
  for (size_t pos = 0; pos < raw.size() || pos == 0; pos += 65535) {
    const size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
    z.push_back(pos + n >= raw.size() ? 1 : 0);
    z.push_back(uint8_t(n)), z.push_back(uint8_t(n >> 8));
    z.push_back(uint8_t(~n)), z.push_back(uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
    if (pos + n >= raw.size()) break;
  }
  png_shot::Be32(&z, (b << 16) | a);
  std::vector<uint8_t> ihdr;
  png_shot::Be32(&ihdr, uint32_t(w));
  png_shot::Be32(&ihdr, uint32_t(h));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  png_shot::Chunk(&file, "IHDR", ihdr);
  png_shot::Chunk(&file, "IDAT", z);
  png_shot::Chunk(&file, "IEND", {});
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (f == nullptr) return false;
  const bool bOk = fwrite(file.data(), 1, file.size(), f) == file.size();
  return fclose(f) == 0 && bOk;
}
