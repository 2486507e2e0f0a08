// velomi_bench_save: one WMA save in a fresh process, which then prints its own peak resident
// memory (VmHWM, KiB), so that the memory of the harness that starts it does not count.
//
//   velomi_bench_save idle          (saves nothing: the process's own footprint)
//   velomi_bench_save ours FILE     (TIDwma::ReadFromFile, a new title, TIDwma::SaveToFile)
//   velomi_bench_save taglib FILE   (TagLib::ASF::File, a new title, save)
#include <asffile.h>
#include <asftag.h>

#include <cstdio>
#include <exception>
#include <string>

#include "Harness.h"
#include "tags/wma/TWmaTag.h"

int main(int argc, char** argv) {
  std::string how = argc > 1 ? argv[1] : "";
  bool ok = false;
  if (how == "idle" && argc == 2) {
    ok = true;
  } else if (how == "ours" && argc == 3) {
    TIDwma tag;
    try {
      ok = tag.ReadFromFile(argv[2]);
      tag.SetTitle(tag.Title == u"Memory probe" ? u"Memory probe, again" : u"Memory probe");
      ok = ok && tag.SaveToFile(argv[2]);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "velomi_bench_save: %s\n", e.what());
    }
  } else if (how == "taglib" && argc == 3) {
    TagLib::ASF::File f(argv[2], false);
    bool again = f.tag()->title() == "Memory probe";
    f.tag()->setTitle(again ? "Memory probe, again" : "Memory probe");
    ok = f.isValid() && f.save();
  }
  if (!ok) {
    std::fprintf(stderr, "velomi_bench_save: %s failed\n", how.c_str());
    return 1;
  }
  std::printf("%lld\n", static_cast<long long>(bench::PeakResidentKiB()));
  return 0;
}
