// Source imaging in a closed loop: a Gaussian source with an exponential
// halo, its correlation function through the free-boson kernel with noise,
// the image of that, and the truth beside it.
//
//   image_closed_loop [noise per bin, default 0.01] [seed, default 1]
//
// Prints r, the image S(r) with its error and the true S(r), then the
// image's chi^2, its halo share beyond 10 fm against the truth's, and the
// share of r points whose 1-sigma band holds the truth. Exits with status 1
// when chi^2/dof is not in 0.5 ... 2 or the band holds the truth at fewer
// than half of the points.
#include <femtokit.h>

#include <cmath>
#include <cstdio>

int main(int argc, char **argv) {
  double sigma = 0.01;
  long long seed = 1;
  if ((argc > 1 && !(femtokit::ParseNumber(argv[1], sigma) && sigma > 0)) ||
      (argc > 2 && !(femtokit::ParseInteger(argv[2], seed) && seed > 0 && seed < 2147483647))) {
    std::fprintf(stderr, "usage: image_closed_loop [noise per bin > 0] [seed, a positive integer]\n");
    return 2;
  }
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);

  // Kernel of free identical bosons: 60 q bins of 2 MeV/c, 80 r bins of 0.5 fm.
  const char *kpars = "image_closed_loop_kparameters.dat";
  if (std::FILE *fp = std::fopen(kpars, "w")) {
    std::fputs("int NQMAX 60\nint NRMAX 80\nint KLMAX 0\ndouble DELQ 2.0\ndouble DELR 0.5\nbool IDENTICAL 1\n", fp);
    std::fclose(fp);
  }
  CKernel kernel(kpars);
  kernel.Calc_PureHBT();

  // The truth: lambdaG = 0.5 (R = 3.5 fm) plus a halo lambdaX = 0.3 (X = 8 fm).
  CCHArray source(0, 80, 0.5, true, true, true), cf(0, 60, 2.0, true, true, true);
  CSourceCalc_GX1D model;
  model.SetSPars(0.5, 3.5, 0.3, 8.0, 5.0);
  model.CalcS(&source);
  S2CF::s2c(&source, &kernel, &cf);

  // The measurement: C - 1 with Gaussian noise.
  CRandom random(static_cast<int>(seed));
  femtokit::ImageData data;
  for (int iq = 0; iq < 60; iq++) {
    data.q.push_back((iq + 0.5) * 2.0);
    data.cf.push_back(cf.GetElement(0, 0, 0, iq) + sigma * random.gauss());
    data.error.push_back(sigma);
  }

  // The image: cubic B-splines on knots every 1.5 fm to 30 fm, S >= 0, strength by GCV.
  femtokit::ImageOptions options;
  for (int k = 0; k <= 20; k++) options.knots.push_back(1.5 * k);
  const femtokit::ImageResult image = femtokit::Image(kernel, data, options);

  std::printf("# image of a Gaussian + halo source through free bosons, noise %g per bin, seed %lld\n", sigma, seed);
  for (const std::string &line : image.Summary()) std::printf("# %s\n", line.c_str());
  std::printf("# r(fm)  S(fm^-3)  error  S_true\n");
  int inside = 0, points = 0;
  double halo = 0.0, total = 0.0;
  for (size_t k = 0; k < image.r.size(); k++) {
    const double r = image.r[k], truth = source.GetElement(0, 0, 0, r);
    std::printf("%6.2f  %.5e  %.2e  %.5e\n", r, image.s[k], image.error[k], truth);
    if (r >= image.rMinResolved && r <= image.rMaxResolved) {
      points++;
      inside += std::fabs(image.s[k] - truth) <= image.error[k];
    }
  }
  for (int ir = 0; ir < 80; ir++) {
    const double r = (ir + 0.5) * 0.5, w = 4.0 * M_PI * r * r * 0.5 * source.GetElement(0, 0, 0, ir);
    total += w;
    halo += r > 10.0 ? w : 0.0;
  }
  double etotal, ehalo;
  const double itotal = image.Integral(0.0, 40.0, &etotal), ihalo = image.Integral(10.0, 40.0, &ehalo);
  const double coverage = points ? double(inside) / points : 0.0;
  std::printf("# lambda: image %.4f +- %.4f, truth %.4f\n", itotal, etotal, total);
  std::printf("# share beyond 10 fm: image %.4f, truth %.4f\n", ihalo / itotal, halo / total);
  std::printf("# chi^2/dof = %.2f/%.1f = %.3f; 1-sigma band holds the truth at %.0f%% of %d points\n", image.chi2,
              image.ndof, image.chi2 / image.ndof, 100.0 * coverage, points);
  const double ratio = image.chi2 / image.ndof;
  return ratio > 0.5 && ratio < 2.0 && coverage >= 0.5 ? 0 : 1;
}
