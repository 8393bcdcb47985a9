#include <cstdio>
#include <cstdlib>
#include <string>

#include "sampleimages/SampleImages.h"

// Writes the sample images the demo and the benchmarks download.
int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: tarnflow-sample-images FOLDER [CODE_KIB]\n");
        return 2;
    }
    const size_t kib = argc == 3 ? std::strtoul(argv[2], nullptr, 10) : 128;
    tarnflow::sample::SampleSet paths;
    if (kib == 0 || kib > 65536 || !tarnflow::sample::WriteSampleSet(argv[1], kib * 1024, paths)) {
        std::fprintf(stderr, "cannot write sample images into %s\n", argv[1]);
        return 1;
    }
    std::printf("%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n", paths.code.c_str(), paths.codeOld.c_str(),
                paths.font.c_str(), paths.vpxBoot.c_str(), paths.vpxCode.c_str(),
                paths.vpxFont.c_str(), paths.vpxContents.c_str(), paths.vpxLfs.c_str(),
                paths.vpxFactoryFs.c_str());
    return 0;
}
