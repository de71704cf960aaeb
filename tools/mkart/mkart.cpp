// Draws the wizard's artwork at build time, so no image is kept in the
// repository: the side banner as a 24-bit BMP and the program icon as an ICO
// with 16, 32 and 48 pixel images.
//   mkart banner OUT.bmp   |   mkart icon OUT.ico
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Rgb {
  uint8_t r, g, b;
};

void Put16(std::vector<uint8_t>* p, uint16_t v) {
  p->push_back(uint8_t(v));
  p->push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p->push_back(uint8_t(v >> (8 * i)));
}

// The brand: a deep blue gradient with a light card shape and chip.
Rgb Pixel(int x, int y, int w, int h) {
  const double fy = double(y) / h, fx = double(x) / w;
  Rgb c{uint8_t(20 + 30 * fy), uint8_t(52 + 70 * fy), uint8_t(96 + 110 * fy * (1 - 0.3 * fx))};
  const double cx = w * 0.5, cy = h * 0.38, cw = w * 0.36, ch = w * 0.24;
  if (std::fabs(x - cx) < cw && std::fabs(y - cy) < ch) {
    c = {236, 242, 250};
    if (x > cx - cw * 0.75 && x < cx - cw * 0.25 && y > cy - ch * 0.45 && y < cy + ch * 0.15) c = {214, 170, 60};
  }
  // A thin light stripe near the foot of the banner.
  if (y > h * 0.82 && y < h * 0.84) c = {120, 170, 230};
  return c;
}

std::vector<uint8_t> BitmapBits(int w, int h, bool bAlpha) {
  std::vector<uint8_t> bits;
  const int stride = bAlpha ? w * 4 : (w * 3 + 3) & ~3;
  bits.resize(size_t(stride) * h);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = &bits[size_t(h - 1 - y) * stride];  // bottom-up
    for (int x = 0; x < w; ++x) {
      const Rgb c = Pixel(x, y, w, h);
      uint8_t* px = row + x * (bAlpha ? 4 : 3);
      px[0] = c.b, px[1] = c.g, px[2] = c.r;
      if (bAlpha) px[3] = 255;
    }
  }
  return bits;
}

void InfoHeader(std::vector<uint8_t>* p, int w, int h, int bpp, uint32_t cbBits) {
  Put32(p, 40);
  Put32(p, uint32_t(w));
  Put32(p, uint32_t(h));
  Put16(p, 1);
  Put16(p, uint16_t(bpp));
  Put32(p, 0);
  Put32(p, cbBits);
  Put32(p, 2835);
  Put32(p, 2835);
  Put32(p, 0);
  Put32(p, 0);
}

bool Write(const char* pszPath, const std::vector<uint8_t>& data) {
  FILE* f = fopen(pszPath, "wb");
  if (f == nullptr) return false;
  const bool bOk = fwrite(data.data(), 1, data.size(), f) == data.size();
  return fclose(f) == 0 && bOk;
}

std::vector<uint8_t> Banner() {
  // 108 x 174 dialog units of the wizard's font (about 1.75 pixels each).
  const int w = 190, h = 304;
  const std::vector<uint8_t> bits = BitmapBits(w, h, false);
  std::vector<uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  Put32(&out, uint32_t(14 + 40 + bits.size()));
  Put32(&out, 0);
  Put32(&out, 14 + 40);
  InfoHeader(&out, w, h, 24, uint32_t(bits.size()));
  out.insert(out.end(), bits.begin(), bits.end());
  return out;
}

std::vector<uint8_t> Icon() {
  const int sizes[] = {16, 32, 48};
  std::vector<std::vector<uint8_t>> images;
  for (int s : sizes) {
    std::vector<uint8_t> image;
    const std::vector<uint8_t> bits = BitmapBits(s, s, true);
    const size_t cbMask = size_t((s + 31) / 32 * 4) * s;
    InfoHeader(&image, s, s * 2, 32, uint32_t(bits.size() + cbMask));
    image.insert(image.end(), bits.begin(), bits.end());
    image.insert(image.end(), cbMask, 0);
    images.push_back(image);
  }
  std::vector<uint8_t> out;
  Put16(&out, 0);
  Put16(&out, 1);
  Put16(&out, uint16_t(images.size()));
  uint32_t offset = uint32_t(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    out.push_back(uint8_t(sizes[i]));
    out.push_back(uint8_t(sizes[i]));
    out.push_back(0);
    out.push_back(0);
    Put16(&out, 1);
    Put16(&out, 32);
    Put32(&out, uint32_t(images[i].size()));
    Put32(&out, offset);
    offset += uint32_t(images[i].size());
  }
  for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (strcmp(argv[1], "banner") != 0 && strcmp(argv[1], "icon") != 0)) {
    fprintf(stderr, "usage: mkart banner OUT.bmp | mkart icon OUT.ico\n");
    return 2;
  }
  const bool bOk = Write(argv[2], strcmp(argv[1], "banner") == 0 ? Banner() : Icon());
  if (!bOk) fprintf(stderr, "mkart: cannot write %s\n", argv[2]);
  return bOk ? 0 : 1;
}
