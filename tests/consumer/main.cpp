// Builds against the installed femtokit only.
#include <femtokit.h>
#include <cstdio>

int main() {
  parameterMap pars;
  parameter::set(pars, "LMAX", 2);
  CRandom random(1234);
  CCHArray array(parameter::getI(pars, "LMAX", 0), 10, 1.0);
  array.RandomizeA(1.0);
  std::printf("LMAX=%d u=%g j0=%g\n", array.GetLMAX(), random.ran(), Bessel::j0(0.5));
  return 0;
}
