#include "resources/string_table.h"

namespace vemra {

const char* GetString(A_long id) {
    return kStrings[id].str;
}

}  // namespace vemra
