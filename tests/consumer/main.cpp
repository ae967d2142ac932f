// Builds against the installed femtokit only.
#include <femtokit.h>
#include <cstdio>

int main() {
  parameterMap pars;
  parameter::set(pars, "LMAX", 2);
  CRandom random(1234);
  std::printf("LMAX=%d u=%g\n", parameter::getI(pars, "LMAX", 0), random.ran());
  return 0;
}
