// The least a file replaced without tearing costs against one overwritten in place, on the
// filesystem holding DIR: FILES files of KB, each either truncated and written again where it is
// (what cp does onto an existing file) or written under a temporary name and renamed over (what
// an install that never leaves a torn file must do at least), plus a sync, in ROUNDS alternating
// rounds. With ATTR, each file replaced has that extended attribute read first, as an install
// that resets a file's attributes must know them. Prints the medians (seconds) and their ratio:
// the floor under any such install's ratio.
//   replace_floor DIR [FILES=2000] [KB=4] [ROUNDS=5] [ATTR]
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool WriteAll(int fd, const std::string& data) {
    return fd >= 0 && write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()) &&
           close(fd) == 0;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: replace_floor DIR [FILES] [KB] [ROUNDS] [ATTR]\n");
        return 2;
    }
    const std::string root = argv[1];
    const int files = argc > 2 ? std::atoi(argv[2]) : 2000;
    const std::string data(static_cast<size_t>(argc > 3 ? std::atoi(argv[3]) : 4) * 1024, 'x');
    const int rounds = argc > 4 ? std::atoi(argv[4]) : 5;
    const char* attr = argc > 5 ? argv[5] : nullptr;
    const int folders = std::max(1, files / 100);
    std::vector<int> dirs;
    for (int d = 0; d < folders; ++d) {
        const std::string dir = root + "/d" + std::to_string(d);
        mkdir(dir.c_str(), 0777);
        dirs.push_back(open(dir.c_str(), O_RDONLY | O_DIRECTORY));
        if (dirs.back() < 0) return std::perror(dir.c_str()), 1;
    }
    const auto name = [](int f) {
        char n[32];
        std::snprintf(n, sizeof n, "f%d.txt", f);
        return std::string(n);
    };
    for (int f = 0; f < files; ++f)
        if (!WriteAll(
                openat(dirs[f % folders], name(f).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666),
                data))
            return std::perror("write"), 1;
    sync();
    std::vector<double> inPlace, replaced;
    unsigned long temp = 0;
    for (int r = 0; r < rounds; ++r)
        for (bool replace : {false, true}) {
            const auto t0 = std::chrono::steady_clock::now();
            for (int f = 0; f < files; ++f) {
                const int dir = dirs[f % folders];
                const std::string target = name(f);
                struct stat st {};
                fstatat(dir, target.c_str(), &st, AT_SYMLINK_NOFOLLOW);
                bool ok;
                if (!replace) {
                    ok = WriteAll(openat(dir, target.c_str(), O_WRONLY | O_TRUNC), data);
                } else {
                    char word[64];
                    if (attr != nullptr) {
                        const std::string path =
                            root + "/d" + std::to_string(f % folders) + "/" + target;
                        lgetxattr(path.c_str(), attr, word,
                                  sizeof word);  // absent is an answer too
                    }
                    char t[32];
                    std::snprintf(t, sizeof t, ".floor-%lu", ++temp);
                    ok = WriteAll(openat(dir, t, O_WRONLY | O_CREAT | O_EXCL, 0666), data) &&
                         renameat(dir, t, dir, target.c_str()) == 0;
                }
                if (!ok) return std::perror(target.c_str()), 1;
            }
            sync();
            const double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            (replace ? replaced : inPlace).push_back(s);
        }
    const double a = Median(inPlace), b = Median(replaced);
    std::printf("%.3f %.3f %.2f\n", a, b, b / a);
    return 0;
}
