// The poppler page renderer against pdftoppm (poppler-utils) as reference:
// the test PDFs of scripts/make-test-pdfs.py (portrait, landscape, a page
// with /Rotate 90, a CropBox inside the MediaBox, three pages, a 1 x 14400
// point page, one encrypted with an empty user password) at both fits and
// all four rotations, each compared with pdftoppm's image at the same size,
// turned in the test. Damaged, locked and missing files report errors.
#include "doc/pdf_render.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "doc/pdf.h"
#include "docsupport.h"
#include "testlog.h"

namespace {

namespace fs = std::filesystem;

struct Env : ::testing::Environment {
  void SetUp() override { start_runtime(TestStderr::kOff); }
};
const auto* kEnv = ::testing::AddGlobalTestEnvironment(new Env);

class Render : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/ambit-pdfs-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    dir = tmpl;
    std::string cmd = std::string("python3 '") + AMBIT_PDF_SCRIPT + "' '" + dir + "'";
    ASSERT_EQ(system(cmd.c_str()), 0) << "the script needs python3 and qpdf";
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  static std::string file(const char* name) { return dir + "/" + name; }

  // pdftoppm's image of one page at exactly w x h.
  static ppm_image reference(const std::string& pdf, int page, int w, int h) {
    std::string out = dir + "/ref";
    std::string cmd = "pdftoppm -cropbox -f " + std::to_string(page + 1) + " -l " + std::to_string(page + 1) +
                      " -scale-to-x " + std::to_string(w) + " -scale-to-y " + std::to_string(h) + " -singlefile '" +
                      pdf + "' '" + out + "' 2>/dev/null";
    ppm_image img;
    EXPECT_EQ(system(cmd.c_str()), 0) << cmd;
    EXPECT_TRUE(read_ppm(out + ".ppm", &img));
    fs::remove(out + ".ppm");
    return img;
  }

  static std::string dir;
};
std::string Render::dir;

// Our picture's pixel (x, y) from the top, as RGB.
const uint8_t* ours(const pdf_request& r, int x, int y) {
  return r.pixels + ((size_t)(r.height - 1 - y) * r.width + x) * 4;
}

// The reference pixel that lands at (x, y) of a picture turned by `rot`
// quarter turns clockwise; ref is the unturned page.
const uint8_t* turned(const ppm_image& ref, int rot, int x, int y) {
  switch (rot) {
    case 1: return ref.at(y, ref.h - 1 - x);
    case 2: return ref.at(ref.w - 1 - x, ref.h - 1 - y);
    case 3: return ref.at(ref.w - 1 - y, x);
    default: return ref.at(x, y);
  }
}

TEST_F(Render, PagesMatchPdftoppmAtEveryFitAndRotation) {
  struct Doc {
    const char* name;
    int page;
    double pw, ph;  // the page as shown, in points
    bool own_turn;  // the page has a /Rotate of 90: pdftoppm scales it before turning
  } docs[] = {
      {"portrait.pdf", 0, 612, 792, false}, {"landscape.pdf", 0, 792, 612, false},
      {"rotate90.pdf", 0, 792, 612, true},  {"cropbox.pdf", 0, 300, 400, false},
      {"three.pdf", 2, 300, 400, false},    {"tall.pdf", 0, 1, 14400, false},
      {"owneronly.pdf", 0, 612, 792, false},
  };
  for (const Doc& d : docs) {
    for (uint32_t fit = 0; fit < 2; fit++) {
      for (uint32_t rot = 0; rot < 4; rot++) {
        SCOPED_TRACE(std::string(d.name) + " fit " + std::to_string(fit) + " rotation " + std::to_string(rot));
        // The picture size a 240 x 180 view asks for.
        pdf_view v{};
        v.page_width = d.pw;
        v.page_height = d.ph;
        v.want_width = 240;
        v.want_height = 180;
        v.want_fit = fit;
        v.want_rotation = rot;
        pdf_request r{};
        pdf_picture_size(&v, &r.width, &r.height);
        snprintf(r.path, sizeof r.path, "%s", file(d.name).c_str());
        r.page = d.page;
        r.rotation = rot;
        std::vector<uint8_t> px((size_t)r.width * r.height * 4);
        r.pixels = px.data();
        pdf_render_poppler(&r);
        ASSERT_EQ(r.error, 0);
        EXPECT_EQ(r.page_width, d.pw);
        EXPECT_EQ(r.page_height, d.ph);
        EXPECT_EQ(r.bottom_up, 1u);

        bool quarter = rot & 1;
        int rw = quarter ? (int)r.height : (int)r.width, rh = quarter ? (int)r.width : (int)r.height;
        ppm_image ref = d.own_turn ? reference(file(d.name), d.page, rh, rw) : reference(file(d.name), d.page, rw, rh);
        ASSERT_EQ(ref.w, rw);
        ASSERT_EQ(ref.h, rh);
        size_t off = 0, total = (size_t)r.width * r.height;
        for (uint32_t y = 0; y < r.height; y++)
          for (uint32_t x = 0; x < r.width; x++) {
            const uint8_t* a = ours(r, (int)x, (int)y);
            const uint8_t* b = turned(ref, (int)rot, (int)x, (int)y);
            int diff = 0;
            for (int c = 0; c < 3; c++) diff = std::max(diff, std::abs((int)a[c] - (int)b[c]));
            off += diff > 48;
          }
        // Edges of shapes may differ by a pixel of anti-aliasing; a wrong
        // turn, mirror or scale moves whole blocks.
        EXPECT_LE(off, total / 50 + 2) << off << " of " << total << " pixels differ";
      }
    }
  }
}

TEST_F(Render, BadFilesAndPagesReportErrors) {
  struct Case {
    const char* name;
    int page;
    int32_t error, detail;
  } cases[] = {
      {"encrypted.pdf", 0, PDF_RENDER_LOCKED, 0},
      {"truncated.pdf", 0, PDF_RENDER_OPEN, 0},
      {"notpdf.pdf", 0, PDF_RENDER_OPEN, 0},
      {"none.pdf", 0, PDF_RENDER_OPEN, 0},
      {"three.pdf", 3, PDF_RENDER_PAGE, 3},
      {"three.pdf", -1, PDF_RENDER_PAGE, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " page " + std::to_string(c.page));
    pdf_request r{};
    snprintf(r.path, sizeof r.path, "%s", file(c.name).c_str());
    r.page = c.page;
    r.width = r.height = 10;
    std::vector<uint8_t> px(400, 7);
    r.pixels = px.data();
    pdf_render_poppler(&r);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.error_detail, c.detail);
  }
}

TEST_F(Render, ASizeRequestFillsNoPixels) {
  pdf_request r{};
  snprintf(r.path, sizeof r.path, "%s", file("three.pdf").c_str());
  pdf_render_poppler(&r);
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.page_count, 3);
  EXPECT_EQ(r.page_width, 300);
  EXPECT_EQ(r.page_height, 400);
}

}  // namespace
