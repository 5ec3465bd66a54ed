// Rank 0's collection reports of the byte-wise and the block workloads.
#pragma once

void bytewise_collection_report();
void block_collection_report();
