"""What a check does to node states: drains and resumes, printed as the
commands that make them and made with --apply; and a re-test's
reservation, whose nodes are drained again with their old reasons unless
the check decides otherwise, however it ends."""
import os
import sys

from . import slurm, verdicts
from .commands import CheckError, say
from .history import user_name

# The verdicts a re-tested node is resumed on (with --resume-own), as said:
# those the report never drains. A node low in one measurement only
# (suspect) would stay in service; kept drained for it, a node once slow
# would stay out by chance under a busy run.
CLEAR = {"ok": "ok now", "suspect": "suspect now (low in one measurement, never a drain)"}


class Actions:
    def __init__(self, apply, resume_own, retested, states):
        self.apply = apply
        self.resume_own = resume_own
        self.old_reasons = {name: states[name].reason for name in retested}
        self.unsettled = []  # re-tested nodes resumed and not yet decided on
        self.reservation = None
        self.status = 0

    def command(self, argv):
        """Prints the command and, with --apply, runs it."""
        print(slurm.shown(argv), flush=True)
        if not self.apply:
            return
        try:
            slurm.apply(argv)
        except CheckError as error:
            say(str(error))
            self.status = 1

    def open_retest(self, names, minutes):
        """Reserves the run's nodes for this user, then resumes the ones a
        check drained: from then on only this check's job lands on them."""
        name = "stelvane-retest-%s-%d" % (os.uname().nodename, os.getpid())
        slurm.create_reservation(name, names, minutes, user_name())
        self.reservation = name  # only once made: close() removes what is there
        say("reserved %s as %s; resumes %s for the re-test" %
            (slurm.compress(names), self.reservation, slurm.compress(list(self.old_reasons))))
        for name in self.old_reasons:
            self.unsettled.append(name)
            self.command(slurm.resume_command(name))

    def act(self, verdict, percent, ran):
        """Drains what the verdict names slow or failed among the nodes the
        job RAN on (a name the file gives is never taken on its word)."""
        judged = {node["node"]: node for node in verdict["nodes"] if node["node"] in ran}
        for stranger in sorted({node["node"] for node in verdict["nodes"]} - set(ran)):
            say("leaves %r: the result file names it, but the job did not run on it" % stranger)
        states = slurm.nodes(list(judged))
        budget = verdicts.limit_of(percent, len(judged))
        left = []
        candidates = [node for node in verdicts.to_drain(verdict) if node["node"] in judged]
        if not candidates and not self.unsettled:
            say("no node to drain")
        elif not self.apply:
            say("would run (give --apply to run them):")
        for node in candidates:
            name = node["node"]
            state = states.get(name)
            if state is None:
                say("leaves %s: Slurm no longer knows it" % name)
            elif state.out_of_service() and not state.drained_by_a_check():
                say("leaves %s as it is: %s" % (name, state.described()))
                if name in self.unsettled:
                    self.unsettled.remove(name)
            elif name in self.unsettled:  # drained again, not a new drain
                self.unsettled.remove(name)
                self.command(slurm.drain_command(name, verdicts.reason(node)))
            elif state.out_of_service():
                say("leaves %s as it is: %s" % (name, state.described()))
            elif budget == 0:
                left.append(node)
            else:
                budget -= 1
                self.command(slurm.drain_command(name, verdicts.reason(node)))
        if left:
            say("drains no more than %g %% of the %d nodes judged; left: %s" %
                (percent, len(judged), "; ".join("%s (%s)" % (n["node"], verdicts.reason(n)) for n in left)))
        self.settle_retested(judged)

    def settle_retested(self, judged):
        """A re-tested node the run would not drain stays resumed with
        --resume-own; any other is drained again with its old reason."""
        for name in list(self.unsettled):
            now = CLEAR.get(judged.get(name, {}).get("verdict"))
            if now and self.resume_own:
                self.unsettled.remove(name)
                say("%s is %s: resumed" % (name, now))
            elif now:
                say("%s is %s; it stays drained without --resume-own" % (name, now))

    def close(self):
        """Drains again, with its old reason, each re-tested node not decided
        on (the run failed, or it was not ok), unless someone else changed
        it meanwhile; then removes the reservation."""
        if self.unsettled:
            states = slurm.nodes(self.unsettled)
            for name in self.unsettled:
                state = states.get(name)
                if state and state.out_of_service() and not state.drained_by_a_check():
                    say("leaves %s as it is: %s" % (name, state.described()))
                else:
                    self.command(slurm.drain_command(name, self.old_reasons[name]))
            self.unsettled = []
        if self.reservation:
            try:
                slurm.delete_reservation(self.reservation)
            except CheckError as error:
                say("%s; remove it by hand (scontrol delete reservation=%s)" % (error, self.reservation))
                self.status = 1
            self.reservation = None
        sys.stdout.flush()
