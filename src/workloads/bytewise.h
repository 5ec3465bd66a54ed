// Byte-wise write and read speeds: every byte is one stream operation,
// followed by a flush (writing) or a sync (reading).
#pragma once

void bytewise_single_phase();
void bytewise_worker_share();
