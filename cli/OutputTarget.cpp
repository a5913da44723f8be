#include "cli/OutputTarget.h"

#include "common/Error.h"
#include "job/OutputFile.h"

#include <cerrno>
#include <sys/stat.h>

namespace rastrace::cli {

OutputTarget::OutputTarget(const std::string& output) : writePath_(output) {
    if (output == "-") return;
    struct stat st {};
    if (stat(output.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return;  // a device or a pipe
    // The job opens the file by its name: the descriptor is not needed.
    if (!replacement_.Create(output) || !replacement_.CloseDescriptor()) throw Error(IoErrorMessage(errno));
    writePath_ = replacement_.Path();
    temporary_ = true;
}

void OutputTarget::Commit() {
    if (temporary_ && !replacement_.Commit()) throw Error(IoErrorMessage(errno));
}

}  // namespace rastrace::cli
