#include "cli/OutputTarget.h"

#include "common/Error.h"
#include "job/OutputFile.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rastrace::cli {

OutputTarget::OutputTarget(const std::string& output) : output_(output), writePath_(output) {
    if (output == "-") return;
    struct stat st {};
    if (stat(output.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return;  // a device or a pipe
    // A link to a file: the file it names is replaced, the link stays.
    if (char* real = realpath(output.c_str(), nullptr)) {
        output_ = real;
        std::free(real);
    }

    const size_t slash = output_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : output_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? output_ : output_.substr(slash + 1);
    std::string pattern = folder + "." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) throw Error(IoErrorMessage(errno));
    // mkstemp makes the file private; give it the mode a new file would get.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    writePath_.assign(buffer.data());
    temporary_ = true;
}

OutputTarget::~OutputTarget() {
    if (temporary_) unlink(writePath_.c_str());
}

void OutputTarget::Commit() {
    if (!temporary_) return;
    if (rename(writePath_.c_str(), output_.c_str()) != 0) throw Error(IoErrorMessage(errno));
    temporary_ = false;
}

}  // namespace rastrace::cli
