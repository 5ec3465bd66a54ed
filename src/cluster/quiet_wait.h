// Waiting on MPI without holding a core. A blocking MPI wait polls at full
// speed in Open MPI, and a node's other ranks may still be measuring; so the
// program tests its requests and sleeps between tests, a little longer each
// time nothing has happened, up to a bound that keeps it responsive.
#pragma once

#include <mpi.h>

#include "waiting.h"

// Returns once `request` has completed.
inline void wait_quietly(MPI_Request& request) {
  wait_quietly_for(
      [&] {
        int done = 0;
        MPI_Test(&request, &done, MPI_STATUS_IGNORE);
        return done ? Waited::done : Waited::nothing;
      },
      never_give_up);
}

// Returns once every one of `count` requests has completed, or once
// `give_up` says so while none has; whether all completed.
template <typename GiveUp = bool (*)()>
bool wait_all_quietly(int count, MPI_Request* requests, GiveUp give_up = never_give_up) {
  return wait_quietly_for(
      [&] {
        int done = 0;
        MPI_Testall(count, requests, &done, MPI_STATUSES_IGNORE);
        return done ? Waited::done : Waited::nothing;
      },
      give_up);
}
