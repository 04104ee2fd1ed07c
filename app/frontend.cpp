#include "app/frontend.h"

#include <cassert>

namespace {
const FrontEnd* currentFrontEnd = nullptr;
}

void setFrontEnd(const FrontEnd* frontEnd) { currentFrontEnd = frontEnd; }

const FrontEnd& frontEnd() {
  assert(currentFrontEnd != nullptr && "setFrontEnd must run before the dialog starts");
  return *currentFrontEnd;
}
