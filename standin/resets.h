// Each part of the stand-in puts its own state back; standin::Reset calls them all.
#pragma once

namespace standin {
namespace detail {

void ResetHandles();
void ResetSync();
void ResetFiles();
void ResetTime();
void ResetHttp();

}  // namespace detail
}  // namespace standin
