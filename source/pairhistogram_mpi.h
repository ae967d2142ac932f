// Pair histograms across the ranks of an MPI communicator (builds with MPI
// only: FEMTOKIT_HAVE_MPI is defined for the library's users then).
#ifndef FEMTOKIT_SOURCE_PAIRHISTOGRAM_MPI_H
#define FEMTOKIT_SOURCE_PAIRHISTOGRAM_MPI_H

#ifdef FEMTOKIT_HAVE_MPI
#include <mpi.h>

#include <memory>

#include "source/pairhistogram.h"

namespace femtokit {

// The ranks of comm (the caller keeps it alive and has initialised MPI) as a
// partition of the pair chunks: chunk tables gathered to every rank (one
// MPI_Allgatherv), point lists broadcast from rank 0.
std::shared_ptr<const PairPartition> MPIPartition(MPI_Comm comm);

// HistogramPairs with the chunks divided among the ranks of comm; every rank
// ends with the array of a one-process run. Collective: every rank calls it
// with the same lists and array shape.
PairSums HistogramPairs(const PointList &a, const PointList &b, bool identical, double weight, CCHArray *A,
                        MPI_Comm comm);

}  // namespace femtokit

#endif
#endif
