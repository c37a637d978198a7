/*
 * _nebrix_trace: the client library for Python programs, over its public C
 * interface only. Built against the stable ABI (3.11, the first with the
 * buffer protocol in it), so one build serves every later interpreter.
 *
 * Every call keeps the GIL while it is in the library: a record is one
 * write(2), and so no Python thread is ever inside the library while
 * another calls close(), which the library does not allow. The change
 * callback takes the GIL itself, in whatever thread noticed the change.
 */
#define Py_LIMITED_API 0x030B0000
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <limits.h>
#include <string.h>

#include <nebrix/trace.h>

/* The exception for a negative result; its `code` is the result. */
static PyObject* trace_error;
/* The Python callable nbx_trace_on_change calls, or NULL. Read and
   replaced only with the GIL held. */
static PyObject* change_callback;
/* Set while this thread runs the change callback, in which the library
   must not be closed. */
static _Thread_local int in_change_callback;

/* Raises trace_error for a negative result: its text is the library's, its
   code the result. Returns NULL for the caller to return. */
static PyObject* raise_result(int result) {
  PyObject* error = PyObject_CallFunction(trace_error, "s", nbx_strerror(result));
  if (error == NULL) return NULL;
  PyObject* code = PyLong_FromLong(result);
  if (code == NULL || PyObject_SetAttrString(error, "code", code) < 0) {
    Py_XDECREF(code);
    Py_DECREF(error);
    return NULL;
  }
  Py_DECREF(code);
  PyErr_SetObject(trace_error, error);
  Py_DECREF(error);
  return NULL;
}

static PyObject* result_to_none(int result) {
  if (result < 0) return raise_result(result);
  Py_RETURN_NONE;
}

/* A category as the library numbers them, or -1 with ValueError (or the
   conversion's error) set. */
static int category_of(PyObject* object) {
  long category = PyLong_AsLong(object);
  if (category == -1 && PyErr_Occurred()) return -1;
  if (category < 0 || category > NBX_TRACE_LAST_CATEGORY) {
    PyErr_Format(PyExc_ValueError, "no trace category %ld", category);
    return -1;
  }
  return (int)category;
}

/* The UTF-8 text of a str, refused when it holds a NUL: the library would
   cut it there without a word. */
static const char* text_of(PyObject* object) {
  Py_ssize_t size;
  const char* text = PyUnicode_AsUTF8AndSize(object, &size);
  if (text != NULL && strlen(text) != (size_t)size) {
    PyErr_SetString(PyExc_ValueError, "embedded null character");
    return NULL;
  }
  return text;
}

/* The hot path: no argument parsing, the header's inline check. */
static PyObject* enabled(PyObject* module, PyObject* argument) {
  (void)module;
  long category = PyLong_AsLong(argument);
  if ((unsigned long)category > NBX_TRACE_LAST_CATEGORY) {
    if (category == -1 && PyErr_Occurred()) return NULL;
    PyErr_Format(PyExc_ValueError, "no trace category %ld", category);
    return NULL;
  }
  if (nbx_trace_enabled((int)category)) Py_RETURN_TRUE;
  Py_RETURN_FALSE;
}

static PyObject* trace(PyObject* module, PyObject* const* arguments, Py_ssize_t count) {
  (void)module;
  if (count != 2) {
    PyErr_SetString(PyExc_TypeError, "trace(category, text) takes 2 arguments");
    return NULL;
  }
  int category = category_of(arguments[0]);
  if (category < 0) return NULL;
  const char* text = text_of(arguments[1]);
  if (text == NULL) return NULL;
  return result_to_none(nbx_trace_printf(category, "%s", text));
}

static PyObject* packet(PyObject* module, PyObject* argument) {
  (void)module;
  Py_buffer view;
  if (PyObject_GetBuffer(argument, &view, PyBUF_SIMPLE) < 0) return NULL;
  int result = nbx_trace_packet(view.buf, (size_t)view.len);
  PyBuffer_Release(&view);
  return result_to_none(result);
}

static PyObject* error(PyObject* module, PyObject* argument) {
  (void)module;
  long code = PyLong_AsLong(argument);
  if (code == -1 && PyErr_Occurred()) return NULL;
  if (code < INT_MIN || code > INT_MAX) {
    PyErr_SetString(PyExc_OverflowError, "error code out of the range of a C int");
    return NULL;
  }
  return result_to_none(nbx_trace_error((int)code));
}

static PyObject* profile_add(PyObject* module, PyObject* const* arguments, Py_ssize_t count) {
  (void)module;
  if (count != 2) {
    PyErr_SetString(PyExc_TypeError, "profile_add(name, amount) takes 2 arguments");
    return NULL;
  }
  const char* name = text_of(arguments[0]);
  if (name == NULL) return NULL;
  long long amount = PyLong_AsLongLong(arguments[1]);
  if (amount == -1 && PyErr_Occurred()) return NULL;
  return result_to_none(nbx_profile_add(name, amount));
}

/* Adds one field to the settings dict; `value` is stolen. */
static int put(PyObject* dict, const char* key, PyObject* value) {
  if (value == NULL) return -1;
  int result = PyDict_SetItemString(dict, key, value);
  Py_DECREF(value);
  return result;
}

static PyObject* settings(PyObject* module, PyObject* unused) {
  (void)module;
  (void)unused;
  struct nbx_trace_settings s = NBX_TRACE_SETTINGS_INIT;
  int result = nbx_trace_get_settings(&s);
  if (result < 0) return raise_result(result);
  PyObject* dict = PyDict_New();
  if (dict == NULL) return NULL;
  if (put(dict, "categories", PyLong_FromUnsignedLong(s.categories)) < 0 ||
      put(dict, "packet_size_limit", PyLong_FromLong(s.packet_size_limit)) < 0 ||
      put(dict, "file_size_limit", PyLong_FromLongLong(s.file_size_limit)) < 0 ||
      put(dict, "time_stamp", PyBool_FromLong(s.time_stamp)) < 0 ||
      put(dict, "stop_on_error", PyBool_FromLong(s.stop_on_error)) < 0 ||
      put(dict, "error_code", PyLong_FromLong(s.error_code)) < 0 ||
      put(dict, "error_count", PyLong_FromLong(s.error_count)) < 0 ||
      put(dict, "compressed", PyBool_FromLong(s.compressed)) < 0 ||
      put(dict, "profile_action", PyLong_FromLong(s.profile_action)) < 0 ||
      put(dict, "own_settings", PyBool_FromLong(s.own_settings)) < 0 ||
      put(dict, "flags", PyUnicode_DecodeFSDefault(s.flags)) < 0 ||
      put(dict, "trace_file", PyUnicode_DecodeFSDefault(s.trace_file)) < 0 ||
      put(dict, "profile_file", PyUnicode_DecodeFSDefault(s.profile_file)) < 0) {
    Py_DECREF(dict);
    return NULL;
  }
  return dict;
}

/* Called by the library after a change, in the thread that noticed it,
   which may hold the GIL already or be no Python thread at all. An
   exception of the callable is reported as unraisable: the library cannot
   take it, and it must not go unnoticed. */
static void call_change_callback(void* context) {
  (void)context;
  if (!Py_IsInitialized()) return;
  PyGILState_STATE gil = PyGILState_Ensure();
  /* A strong reference: the callable may replace itself while it runs. */
  PyObject* callable = change_callback;
  if (callable != NULL) {
    Py_INCREF(callable);
    in_change_callback++;
    PyObject* result = PyObject_CallNoArgs(callable);
    in_change_callback--;
    if (result == NULL)
      PyErr_WriteUnraisable(callable);
    else
      Py_DECREF(result);
    Py_DECREF(callable);
  }
  PyGILState_Release(gil);
}

static PyObject* on_change(PyObject* module, PyObject* callable) {
  (void)module;
  if (callable != Py_None && !PyCallable_Check(callable)) {
    PyErr_SetString(PyExc_TypeError, "on_change takes a callable or None");
    return NULL;
  }
  PyObject* old = change_callback;
  change_callback = callable == Py_None ? NULL : Py_NewRef(callable);
  Py_XDECREF(old);
  return result_to_none(nbx_trace_on_change(change_callback ? call_change_callback : NULL, NULL));
}

static PyObject* open_component(PyObject* module, PyObject* const* arguments, Py_ssize_t count) {
  (void)module;
  if (count > 1) {
    PyErr_SetString(PyExc_TypeError, "open(component=None) takes at most 1 argument");
    return NULL;
  }
  const char* component = NULL;
  if (count == 1 && arguments[0] != Py_None && (component = text_of(arguments[0])) == NULL) return NULL;
  return result_to_none(nbx_trace_open(component));
}

static PyObject* close_library(PyObject* module, PyObject* unused) {
  (void)module;
  (void)unused;
  if (in_change_callback) {
    PyErr_SetString(PyExc_RuntimeError, "close() cannot be called from the change callback");
    return NULL;
  }
  nbx_trace_close();
  Py_RETURN_NONE;
}

static PyMethodDef methods[] = {
    {"enabled", enabled, METH_O, "enabled(category) -> bool: whether the category is on."},
    {"trace", (PyCFunction)(void (*)(void))trace, METH_FASTCALL,
     "trace(category, text): writes one record when the category is on."},
    {"packet", packet, METH_O, "packet(data): writes a hex dump of bytes-like data when packet trace is on."},
    {"error", error, METH_O, "error(code): reports an error for stop on error."},
    {"profile_add", (PyCFunction)(void (*)(void))profile_add, METH_FASTCALL,
     "profile_add(name, amount): adds to a profile counter."},
    {"settings", settings, METH_NOARGS, "settings() -> dict: the settings in force."},
    {"on_change", on_change, METH_O, "on_change(callable): called after every change; None removes it."},
    {"open", (PyCFunction)(void (*)(void))open_component, METH_FASTCALL,
     "open(component=None): attaches to a component's settings."},
    {"close", close_library, METH_NOARGS, "close(): detaches; no other thread may be tracing."},
    {NULL, NULL, 0, NULL}};

static int add_constants(PyObject* module) {
  static const struct {
    const char* name;
    int value;
  } constants[] = {{"SHORT", NBX_TRACE_SHORT}, {"API", NBX_TRACE_API},
                   {"DEBUG", NBX_TRACE_DEBUG}, {"DISTRIBUTION", NBX_TRACE_DISTRIBUTION},
                   {"SQL", NBX_TRACE_SQL},     {"PACKET", NBX_TRACE_PACKET}};
  for (size_t i = 0; i < sizeof constants / sizeof constants[0]; i++)
    if (PyModule_AddIntConstant(module, constants[i].name, constants[i].value) < 0) return -1;
  if (PyModule_AddStringConstant(module, "__version__", nbx_version()) < 0) return -1;
  return PyModule_AddObjectRef(module, "Error", trace_error);
}

/* The module lives as long as the interpreter: the library keeps calling
   back into it, so it holds its state in statics and is never unloaded. */
static struct PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_nebrix_trace", "The NEBRIX trace library.", -1, methods, NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit__nebrix_trace(void) {
  if (trace_error == NULL) {
    trace_error = PyErr_NewExceptionWithDoc("nebrix_trace.Error",
                                            "A call of the trace library failed; `code` is its result.", NULL, NULL);
    if (trace_error == NULL) return NULL;
  }
  PyObject* module = PyModule_Create(&module_definition);
  if (module != NULL && add_constants(module) < 0) Py_CLEAR(module);
  return module;
}
