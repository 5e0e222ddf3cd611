.pragma library

// A data table for a test function: the column names, then one row per case
// with its tag first and the columns' values after it.
function rows(columns, ...cases) {
    return cases.map(values => {
        const row = { "tag": values[0] };
        columns.forEach((column, i) => row[column] = values[i + 1]);
        return row;
    });
}
