// Where a failure was raised, as the failure report names it.
#ifndef KELCONV_APP_RAISE_SITE_H_
#define KELCONV_APP_RAISE_SITE_H_

#include <cstdint>
#include <string>

namespace kelconv {

struct RaiseSite {
  // File name, without its folder, of the loaded module that holds the code.
  std::string module_name;
  // Distance in bytes of the code from the start of that module.
  std::uintptr_t offset = 0;
};

// Describes the code address `place`. Never throws; unknown parts are left empty or zero.
RaiseSite DescribeRaiseSite(const void* place);

}  // namespace kelconv

#endif  // KELCONV_APP_RAISE_SITE_H_
