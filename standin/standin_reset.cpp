#include "standin/resets.h"
#include "standin/standin.h"

namespace standin {

void Reset() {
    detail::ResetHandles();
    detail::ResetSync();
    detail::ResetFiles();
    detail::ResetTime();
    detail::ResetHttp();
}

}  // namespace standin
