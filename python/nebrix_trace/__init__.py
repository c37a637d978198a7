"""The NEBRIX trace library for Python programs.

    import nebrix_trace
    if nebrix_trace.enabled(nebrix_trace.SQL):
        nebrix_trace.trace(nebrix_trace.SQL, "execute " + statement)

or, through logging:

    logging.getLogger("app").addHandler(nebrix_trace.Handler(nebrix_trace.SQL))

The user switches the categories of the running program with nebrix_cons.
"""
import logging
import operator

from ._nebrix_trace import (API, DEBUG, DISTRIBUTION, PACKET, SHORT, SQL, Error, __version__, close,
                            enabled, error, on_change, open, packet, profile_add, settings, trace)

__all__ = ["API", "DEBUG", "DISTRIBUTION", "PACKET", "SHORT", "SQL", "Error", "Handler", "__version__",
           "close", "enabled", "error", "on_change", "open", "packet", "profile_add", "settings", "trace"]


class Handler(logging.Handler):
    """Writes each log record, formatted by the handler's formatter, as one
    trace record of `category` while that category is on."""

    def __init__(self, category, level=logging.NOTSET):
        # Checked here rather than at the first record, and without calling
        # the library, which would attach the process to the default
        # component before the program could open() its own.
        category = operator.index(category)
        if not SHORT <= category <= PACKET:
            raise ValueError(f"no trace category {category}")
        super().__init__(level)
        self.category = category

    def emit(self, record):
        # Checked before formatting: a category that is off costs no more.
        if not enabled(self.category):
            return
        try:
            trace(self.category, self.format(record))
        except Exception:
            self.handleError(record)
