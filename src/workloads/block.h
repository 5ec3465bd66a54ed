// Block write and read speeds: the byte-wise file is read into memory in one
// request and written out again in one request, each with a shorter second
// pass.
#pragma once

void block_single_phase();
void block_worker_share();
