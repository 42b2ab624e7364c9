// Prints the invalid-argument table of docs/reliability.md from bad_input_cases.h.
#include <cstdio>

#include "bad_input_cases.h"

int main() {
  std::fputs(badinput::MarkdownTable().c_str(), stdout);
  return 0;
}
