// Files per second a node can create, open, close and remove: once through
// buffered file streams ("Lower"), once through descriptor calls ("Higher").
#pragma once

void streams_single_phase();
void streams_worker_share();

void descriptors_single_phase();
void descriptors_worker_share();
